// The tokenizer of the XML reader: texts, tags, CDATA sections and
// comments, with entity references expanded as they are met.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_string.h"
#include "xml/xml_entity_loader.h"

class XmlParse;

struct XmlToken {
    enum : int { text = 0, start_tag = 1, self_contained = 2, end_tag = 3 };
    int kind = text;
    bool cdata = false;
    string entity_source;  // the system identifier, for an external entity's start tag
    // The token's bytes: valid until the next call of next_token.
    const char* data = "";
    size_t length = 0;
    std::string_view view() const { return std::string_view(data, length); }
};

class XmlTokenizer {
public:
    // Replacement texts nested deeper than this are not expanded.
    static constexpr int max_depth = 16;
    // Replacement texts and loaded entities together may add at most ten
    // times the input plus this many bytes; past that, references stay text.
    static constexpr size_t extra_budget = size_t(1) << 20;

    // The entity maps are those of main_root, read afresh at every reference.
    XmlTokenizer(const char* data, size_t length, XmlParse& main_root, const XmlEntityPolicy& policy);
    XmlTokenizer(const XmlTokenizer&) = delete;
    XmlTokenizer& operator=(const XmlTokenizer&) = delete;

    // The next token; false at the end of the input.
    bool next_token(XmlToken& token);

    size_t expanded_bytes() const { return expanded_; }

private:
    // The rest of the input is the segments from the top of the stack
    // down: a replacement text is pushed rather than copied in front of
    // what is left, which would copy the input again at every reference.
    struct Segment {
        string owner;  // keeps a replacement text alive; empty for the input
        const char* at;
        const char* end;
        int depth;  // how many replacements deep this text was found
    };

    // Collects a token: a view of the input while the bytes lie together,
    // else a copy in the scratch buffer.
    class Collector;

    enum class RefResult { go_on, end_before, external };

    bool at_end();
    void pop_segment();
    void skip_white_space();
    void read_text(Collector& c, XmlToken& token);
    bool read_tag(Collector& c, XmlToken& token);
    void read_raw(Collector& c, const char* terminator, size_t terminator_length, bool keep_dashes);
    RefResult reference(Collector& c, bool in_tag, XmlToken& token);
    bool may_expand(size_t length) const;
    void push(const string& text, int depth);

    std::vector<Segment> segments_;
    std::vector<string> retired_;  // popped this call; the token may point into them
    std::string scratch_;
    std::string unescaped_;
    XmlParse& main_root_;
    XmlEntityLoader loader_;
    size_t budget_;
    size_t expanded_ = 0;
};

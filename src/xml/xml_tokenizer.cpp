#include "xml/xml_tokenizer.h"

#include <cstring>

#include "xml/xml_entity_loader.h"
#include "xml/xml_parse.h"

namespace {

bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Bytes that end a run of text, and a run inside a tag.
struct StopTable {
    bool text[256] = {};
    bool tag[256] = {};
    StopTable()
    {
        text[static_cast<unsigned char>('<')] = text[static_cast<unsigned char>('&')] = true;
        tag[static_cast<unsigned char>('<')] = tag[static_cast<unsigned char>('>')] = true;
        tag[static_cast<unsigned char>('&')] = true;
    }
};
const StopTable stops;

bool starts_with(const char* at, const char* end, const char* prefix, size_t n)
{
    return static_cast<size_t>(end - at) >= n && std::memcmp(at, prefix, n) == 0;
}

}  // namespace

class XmlTokenizer::Collector {
public:
    explicit Collector(std::string& scratch) : scratch_(scratch) { scratch_.clear(); }

    // Bytes that stay where they are until the next token is asked for.
    void add_run(const char* p, size_t n)
    {
        if (n == 0) return;
        if (!copied_) {
            if (length_ == 0) {
                start_ = p;
                length_ = n;
                return;
            }
            if (start_ + length_ == p) {
                length_ += n;
                return;
            }
            copy();
        }
        scratch_.append(p, n);
    }
    // Bytes that are not part of the input (an unescaped reference).
    void add_bytes(const char* p, size_t n)
    {
        if (!copied_) copy();
        scratch_.append(p, n);
    }
    bool empty() const { return (copied_ ? scratch_.size() : length_) == 0; }
    const char* data() const { return copied_ ? scratch_.data() : start_; }
    size_t length() const { return copied_ ? scratch_.size() : length_; }
    void trim_trailing_white()
    {
        if (copied_) {
            while (!scratch_.empty() && is_white(scratch_.back())) scratch_.pop_back();
        } else {
            while (length_ > 0 && is_white(start_[length_ - 1])) --length_;
        }
    }

private:
    void copy()
    {
        scratch_.assign(start_ ? start_ : "", length_);
        copied_ = true;
    }
    std::string& scratch_;
    const char* start_ = nullptr;
    size_t length_ = 0;
    bool copied_ = false;
};

XmlTokenizer::XmlTokenizer(const char* data, size_t length, XmlParse& main_root, const XmlEntityPolicy& policy)
    : main_root_(main_root), loader_(policy), budget_(length * 10 + extra_budget)
{
    segments_.reserve(2 * max_depth + 2);  // at most two segments a level
    segments_.push_back(Segment{string(), data, data + length, 0});
}

bool XmlTokenizer::at_end()
{
    while (!segments_.empty() && segments_.back().at == segments_.back().end) pop_segment();
    return segments_.empty();
}

void XmlTokenizer::pop_segment()
{
    if (!segments_.back().owner.empty()) retired_.push_back(segments_.back().owner);
    segments_.pop_back();
}

void XmlTokenizer::skip_white_space()
{
    while (!at_end()) {
        Segment& s = segments_.back();
        while (s.at < s.end && is_white(*s.at)) ++s.at;
        if (s.at < s.end) return;
    }
}

bool XmlTokenizer::may_expand(size_t length) const
{
    return segments_.back().depth < max_depth && length <= budget_ - expanded_;
}

void XmlTokenizer::push(const string& text, int depth)
{
    expanded_ += text.length();
    segments_.push_back(Segment{text, text.c_str(), text.c_str() + text.length(), depth});
}

XmlTokenizer::RefResult XmlTokenizer::reference(Collector& c, bool in_tag, XmlToken& token)
{
    Segment& s = segments_.back();
    const char* amp = s.at;
    // A reference runs to its ';' or to the end of the text it is found in
    // (it does not run on past the end of a replacement text).
    const char* semi = static_cast<const char*>(std::memchr(amp, ';', static_cast<size_t>(s.end - amp)));
    const char* ref_end = semi ? semi + 1 : s.end;
    std::string_view ref(amp, static_cast<size_t>(ref_end - amp));
    int depth = s.depth + 1;

    if (const XmlRootData* roots = main_root_.root_data_if_any()) {
        if (!roots->general_entities.empty()) {
            auto it = roots->general_entities.find(ref);
            // Replacement texts are bounded in depth (an entity that refers
            // to itself) and in total size (entities that multiply each
            // other); a reference past either bound stays text.
            if (it != roots->general_entities.end() && may_expand(it->second.length())) {
                s.at = ref_end;
                push(it->second, depth);
                return RefResult::go_on;
            }
        }
        // An external entity stands for an element of its own; inside a tag
        // it has no place and stays text.
        auto ext = in_tag ? roots->external_entities.end() : roots->external_entities.find(ref);
        size_t left = budget_ - expanded_, tail = ref.size() + 2;
        if (ext != roots->external_entities.end() && s.depth < max_depth && tail <= left) {
            if (!c.empty()) return RefResult::end_before;  // the text before it is a token of its own
            string content;
            // Loaded documents count against the same budget as replacements.
            if (loader_.load(ext->second, left - tail, content)) {
                string id = ext->second;
                s.at = ref_end;
                push(string("</") + string(ref.data() + 1, ref.size() - 1) + ">", depth);
                push(content, depth);
                c.add_bytes(ref.data(), ref.size());
                token.entity_source = id;
                return RefResult::external;
            }
        }
    }

    s.at = ref_end;
    // In a tag the five named and the numeric references stay as they are
    // until the attribute values have been split off: an unescaped quote
    // would end a value early, and a declaration keeps its text.
    if (in_tag) {
        c.add_run(ref.data(), ref.size());
        return RefResult::go_on;
    }
    unescaped_.clear();
    xml_unescape_to(unescaped_, ref.data(), ref.size());
    // A known reference always gets shorter; one left alone keeps its bytes.
    if (unescaped_.size() == ref.size()) c.add_run(ref.data(), ref.size());
    else c.add_bytes(unescaped_.data(), unescaped_.size());
    return RefResult::go_on;
}

void XmlTokenizer::read_text(Collector& c, XmlToken& token)
{
    while (!at_end()) {
        Segment& s = segments_.back();
        const char* p = s.at;
        while (p < s.end && !stops.text[static_cast<unsigned char>(*p)]) ++p;
        c.add_run(s.at, static_cast<size_t>(p - s.at));
        s.at = p;
        if (p == s.end) continue;
        if (*p == '<') return;
        if (reference(c, false, token) != RefResult::go_on) return;
    }
}

// Everything up to the terminator, taken as it is; the terminator is
// consumed. With keep_dashes the two dashes of "-->" stay in the token.
void XmlTokenizer::read_raw(Collector& c, const char* terminator, size_t n, bool keep_dashes)
{
    while (!at_end()) {
        Segment& s = segments_.back();
        const char* hit = static_cast<const char*>(memmem(s.at, static_cast<size_t>(s.end - s.at), terminator, n));
        if (!hit) {
            c.add_run(s.at, static_cast<size_t>(s.end - s.at));
            s.at = s.end;
            continue;
        }
        c.add_run(s.at, static_cast<size_t>(hit - s.at) + (keep_dashes ? 2 : 0));
        s.at = hit + n;
        return;
    }
    if (keep_dashes) c.add_bytes("--", 2);  // an unterminated comment is written closed
}

// After the '<'. True when the token became a CDATA text.
bool XmlTokenizer::read_tag(Collector& c, XmlToken& token)
{
    if (!at_end()) {
        Segment& s = segments_.back();
        if (starts_with(s.at, s.end, "![CDATA[", 8)) {
            s.at += 8;
            read_raw(c, "]]>", 3, false);
            token.cdata = true;
            return true;
        }
        // A comment runs to "-->" whatever it holds, '>' and '&' included.
        if (starts_with(s.at, s.end, "!--", 3)) {
            c.add_run(s.at, 3);
            s.at += 3;
            read_raw(c, "-->", 3, true);
            return false;
        }
    }
    size_t open = 0;  // '<' inside the tag (a DOCTYPE's internal subset)
    while (!at_end()) {
        Segment& s = segments_.back();
        const char* p = s.at;
        while (p < s.end && !stops.tag[static_cast<unsigned char>(*p)]) ++p;
        c.add_run(s.at, static_cast<size_t>(p - s.at));
        s.at = p;
        if (p == s.end) continue;
        if (*p == '<') {
            c.add_run(p, 1);
            ++open;
            ++s.at;
        } else if (*p == '>') {
            ++s.at;
            if (open == 0) return false;
            c.add_run(p, 1);
            --open;
        } else {
            reference(c, true, token);
        }
    }
    return false;
}

bool XmlTokenizer::next_token(XmlToken& token)
{
    retired_.clear();
    token.kind = XmlToken::text;
    token.cdata = false;
    if (!token.entity_source.empty()) token.entity_source = string();
    token.data = "";
    token.length = 0;

    skip_white_space();
    if (at_end()) return false;
    Collector c(scratch_);
    bool tag = false;
    if (*segments_.back().at == '<') {
        tag = true;
        ++segments_.back().at;
        if (read_tag(c, token)) tag = false;  // a CDATA section is text
    } else {
        read_text(c, token);
        if (!token.entity_source.empty()) tag = true;
    }
    skip_white_space();

    if (tag) {
        const char* d = c.data();
        size_t n = c.length();
        if (n > 0 && (d[0] == '!' || d[0] == '?' || d[n - 1] == '/')) token.kind = XmlToken::self_contained;
        else if (n > 0 && d[0] == '/') token.kind = XmlToken::end_tag;
        else token.kind = XmlToken::start_tag;
    } else if (!token.cdata) {
        // Trailing white space of a text goes (line ends and indentation
        // before the next tag); the writer lays out its own.
        c.trim_trailing_white();
    }
    token.data = c.data();
    token.length = c.length();
    return true;
}

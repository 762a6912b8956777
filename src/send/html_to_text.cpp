// The plain-text alternative of an HTML body: tags become line breaks,
// list marks, link targets and upper case; entities are decoded; white space
// is collapsed outside <pre>.
#include "send/html_to_text.h"

#include <cctype>
#include <cstring>
#include <map>
#include <string>

#include "platform/nocase.h"

namespace {

constexpr size_t work_limit = 64 * 1024;  // tag, attribute name and value

struct EntityRow {
    const char* entity;
    const char* text;
};

const EntityRow entities[] = {
    {"&amp;", "&"}, {"&#39;", "'"}, {"&lt;", "<"},     {"&gt;", ">"},
    {"&quot;", "\""}, {"&nbsp;", " "}, {"&copy;", "(C)"}, {"&reg;", "(R)"},
};

enum class TagAction {
    line_break, paragraph, pre_off, link_start, link_end, image, row, list_item, rule, heading, heading_end,
    bold, bold_end, skip_on, skip_off, pre_on, body,
};

struct TagRow {
    const char* prefix;
    TagAction action;
};

// Tried in this order; the first prefix the tag text begins with acts.
const TagRow tag_rows[] = {
    {"<br ", TagAction::line_break},  {"<p ", TagAction::paragraph},     {"</pre", TagAction::pre_off},
    {"</p", TagAction::paragraph},    {"<div", TagAction::paragraph},    {"</div", TagAction::paragraph},
    {"<a ", TagAction::link_start},   {"</a", TagAction::link_end},      {"<img ", TagAction::image},
    {"<tr ", TagAction::row},         {"<li ", TagAction::list_item},    {"<hr", TagAction::rule},
    {"<h#", TagAction::heading},      {"</h", TagAction::heading_end},   {"<b ", TagAction::bold},
    {"</b", TagAction::bold_end},     {"<title ", TagAction::skip_on},   {"</title", TagAction::skip_off},
    {"<meta ", TagAction::skip_on},   {"</meta", TagAction::skip_off},   {"<script ", TagAction::skip_on},
    {"</script", TagAction::skip_off}, {"<pre ", TagAction::pre_on},     {"<body ", TagAction::body},
};

bool tag_matches(const std::string& tag, const char* prefix)
{
    size_t n = std::strlen(prefix);
    if (tag.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (prefix[i] == '#') {
            if (!std::isdigit(static_cast<unsigned char>(tag[i]))) return false;
        } else if (std::tolower(static_cast<unsigned char>(tag[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

class Converter {
public:
    Converter(const char* html, size_t length) : in_(html), length_(length) { out_.reserve(length + 64); }

    std::string run()
    {
        for (pos_ = 0; pos_ < length_; ++pos_) {
            char c = in_[pos_];
            if (c == '\r') continue;
            if (c == '&' && starts_entity()) {
                decode_entity();
                continue;
            }
            if (in_tag_) tag_char(c);
            else if (c == '<') open_tag();
            else text_char(c);
        }
        return out_;
    }

private:
    bool starts_entity() const
    {
        return pos_ + 1 < length_ && in_[pos_ + 1] != ' ' && std::memchr(in_ + pos_ + 1, ';', length_ - pos_ - 1);
    }

    void decode_entity()
    {
        const char* semicolon = static_cast<const char*>(std::memchr(in_ + pos_, ';', length_ - pos_));
        size_t n = static_cast<size_t>(semicolon - (in_ + pos_)) + 1;
        std::string entity(in_ + pos_, n);
        pos_ += n - 1;
        for (const EntityRow& e : entities) {
            if (nocase_compare(entity.c_str(), e.entity) == 0) {
                write(e.text);
                break;
            }
        }
    }

    // One character of text, upper-cased in upper-case mode.
    void put(char c) { out_.push_back(upper_ ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c); }

    void write(const char* text)
    {
        for (const char* p = text; *p; ++p) put(*p);
    }

    void open_tag()
    {
        in_tag_ = true;
        tag_ = "<";
        attributes_.clear();
        quote_ = 0;
        naming_ = false;
    }

    void text_char(char c)
    {
        if (pre_) {
            out_.push_back(c);
            return;
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!block_start_) out_.push_back(' ');
            while (pos_ + 1 < length_ && std::isspace(static_cast<unsigned char>(in_[pos_ + 1]))) ++pos_;
            block_start_ = false;
            return;
        }
        if (skip_) return;
        put(c);
        block_start_ = false;
    }

    void tag_char(char c)
    {
        if (quote_) {
            if (c == quote_) {
                quote_ = 0;
                std::string key = name_;
                for (char& k : key) k = static_cast<char>(std::tolower(static_cast<unsigned char>(k)));
                attributes_[key] = value_;
            } else if (value_.size() < work_limit) {
                value_.push_back(c);
            }
            return;
        }
        if (c == '\'' || c == '"') {
            quote_ = c;
            value_.clear();
            naming_ = false;
            return;
        }
        if (c == '>') {
            in_tag_ = false;
            tag_.push_back(' ');
            act();
            return;
        }
        if (c == ' ') {
            naming_ = true;
            name_.clear();
        } else if (naming_) {
            if (c == '=') naming_ = false;
            else if (name_.size() < work_limit) name_.push_back(c);
            return;
        }
        if (tag_.size() < work_limit) tag_.push_back(c);
    }

    void act()
    {
        for (const TagRow& row : tag_rows) {
            if (!tag_matches(tag_, row.prefix)) continue;
            perform(row.action);
            return;
        }
    }

    void perform(TagAction action)
    {
        switch (action) {
        case TagAction::line_break: out_ += "\r\n"; block_start_ = true; break;
        case TagAction::paragraph: out_ += "\r\n\r\n"; block_start_ = true; break;
        case TagAction::pre_off: pre_ = false; block_start_ = true; break;
        case TagAction::link_start: link_ = attributes_["href"]; break;
        case TagAction::link_end: out_ += "(" + link_ + ")"; link_.clear(); break;
        case TagAction::image: {
            const std::string& alt = attributes_["alt"];
            out_ += "IMAGE " + alt + (alt.empty() ? "" : " ") + attributes_["src"];
            break;
        }
        case TagAction::row: out_ += "\r\n\r\n"; break;
        case TagAction::list_item: out_ += "\r\n  * "; break;
        case TagAction::rule: out_ += "\r\n" + std::string(72, '-') + "\r\n"; block_start_ = true; break;
        case TagAction::heading: out_ += "\r\n"; upper_ = true; break;
        case TagAction::heading_end: out_ += "\r\n\r\n"; upper_ = false; block_start_ = true; break;
        case TagAction::bold: upper_ = true; break;
        case TagAction::bold_end: upper_ = false; break;
        case TagAction::skip_on: skip_ = true; break;
        case TagAction::skip_off: skip_ = false; break;
        case TagAction::pre_on: pre_ = true; break;
        case TagAction::body: out_.clear(); block_start_ = true; break;
        }
    }

    const char* in_;
    size_t length_;
    size_t pos_ = 0;
    std::string out_;
    bool in_tag_ = false, skip_ = false, upper_ = false, pre_ = false, block_start_ = false, naming_ = false;
    char quote_ = 0;
    std::string tag_, name_, value_, link_;
    std::map<std::string, std::string> attributes_;
};

}  // namespace

string html_to_text(const char* html, size_t length)
{
    if (!html) return string();
    std::string text = Converter(html, length).run();
    return string(text.data(), text.size());
}

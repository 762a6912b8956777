// Escaping and unescaping the five named references and numeric ones.
#include <cstring>

#include "xml/xml_parse.h"

namespace {

struct NamedReference {
    const char* text;
    size_t length;
    char character;
};

const NamedReference named_references[] = {
    {"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''},
};

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "&#" digits ";" or "&#x" hex digits ";" at text (length bytes from the
// ampersand to the ';'): the low 8 bits of the number.
bool numeric_reference(const char* text, size_t length, char& out)
{
    if (length < 4 || text[1] != '#' || text[length - 1] != ';') return false;
    bool hex = text[2] == 'x';
    size_t first = hex ? 3 : 2;
    if (first >= length - 1) return false;
    unsigned value = 0;
    for (size_t i = first; i < length - 1; ++i) {
        int d = hex ? hex_value(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (d < 0) return false;
        value = (value * (hex ? 16 : 10) + static_cast<unsigned>(d)) & 0xff;  // only the low 8 bits count
    }
    out = static_cast<char>(value);
    return true;
}

}  // namespace

void xml_escape_to(std::string& out, const char* text, size_t length, bool in_attribute)
{
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"':
            if (in_attribute) out += "&quot;";
            else out += c;
            break;
        case '\'':
            if (in_attribute) out += "&apos;";
            else out += c;
            break;
        default: out += c;
        }
    }
}

string xml_escape(const string& text, bool in_attribute)
{
    std::string out;
    out.reserve(text.length());
    xml_escape_to(out, text.c_str(), text.length(), in_attribute);
    return string(out.data(), out.size());
}

void xml_unescape_to(std::string& out, const char* text, size_t length)
{
    size_t i = 0;
    while (i < length) {
        const char* amp = static_cast<const char*>(std::memchr(text + i, '&', length - i));
        if (!amp) {
            out.append(text + i, length - i);
            return;
        }
        size_t at = static_cast<size_t>(amp - text);
        out.append(text + i, at - i);
        const char* semi = static_cast<const char*>(std::memchr(amp, ';', length - at));
        size_t ref_length = semi ? static_cast<size_t>(semi - amp) + 1 : length - at;
        char c = 0;
        bool known = false;
        for (const NamedReference& r : named_references) {
            if (r.length == ref_length && std::memcmp(amp, r.text, ref_length) == 0) {
                c = r.character;
                known = true;
                break;
            }
        }
        if (!known) known = numeric_reference(amp, ref_length, c);
        if (known) out += c;
        else out.append(amp, ref_length);  // any other reference stays as it was
        i = at + ref_length;
    }
}

string xml_unescape(const string& text)
{
    std::string out;
    out.reserve(text.length());
    xml_unescape_to(out, text.c_str(), text.length());
    return string(out.data(), out.size());
}

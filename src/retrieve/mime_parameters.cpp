#include "retrieve/mime_parameters.h"

#include <cstring>
#include <string>
#include <strings.h>

namespace {

constexpr int max_sections = 100;

struct Section {
    const char* begin = nullptr;  // the raw value, quotes included
    const char* end = nullptr;
    bool extended = false;
};

bool ends_line(char c) { return c == 0 || c == '\r' || c == '\n'; }
bool blank(char c) { return c == ' ' || c == '\t'; }

const char* skip_blanks(const char* p)
{
    while (blank(*p)) ++p;
    return p;
}

// From inside a quoted string (behind its opening quote) to behind the
// closing quote, or to the end of the line when it is not closed.
const char* skip_quoted(const char* p)
{
    while (!ends_line(*p) && *p != '"') {
        if (*p == '\\' && !ends_line(p[1])) ++p;
        ++p;
    }
    return *p == '"' ? p + 1 : p;
}

// To the next ';' outside quotes, or to the end of the line.
const char* skip_to_separator(const char* p)
{
    while (!ends_line(*p) && *p != ';') p = *p == '"' ? skip_quoted(p + 1) : p + 1;
    return p;
}

// The attribute [begin, end) is name*, name*N or name*N*. Sets section to
// -1 for the lone name*, else to N; false when it is none of these.
bool match_attribute(const char* begin, const char* end, const char* name, size_t name_length,
                     int& section, bool& extended)
{
    size_t length = static_cast<size_t>(end - begin);
    if (length <= name_length || strncasecmp(begin, name, name_length) != 0) return false;
    const char* p = begin + name_length;
    if (*p++ != '*') return false;
    if (p == end) {
        section = -1;
        extended = true;
        return true;
    }
    int number = 0;
    const char* digits = p;
    while (p < end && *p >= '0' && *p <= '9' && p - digits < 3) number = number * 10 + (*p++ - '0');
    if (p == digits || number >= max_sections) return false;
    extended = p < end && *p == '*';
    if (extended) ++p;
    if (p != end) return false;
    section = number;
    return true;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of [begin, end) without its quotes and backslash escapes.
std::string unquoted(const char* begin, const char* end)
{
    if (begin == end || *begin != '"') return std::string(begin, end);
    std::string raw;
    for (const char* p = begin + 1; p < end && *p != '"'; ++p) {
        if (*p == '\\' && p + 1 < end) ++p;
        raw += *p;
    }
    return raw;
}

void append_percent_decoded(std::string& out, const std::string& raw)
{
    for (size_t i = 0; i < raw.size(); ++i) {
        int high = raw[i] == '%' && i + 2 < raw.size() ? hex_value(raw[i + 1]) : -1;
        int low = high >= 0 ? hex_value(raw[i + 2]) : -1;
        if (low >= 0 && (high | low) != 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += raw[i];
        }
    }
}

}  // namespace

bool extended_parameter(const char* header_value, const char* name, string& value, string& charset)
{
    if (!header_value || !name || !*name) return false;
    size_t name_length = std::strlen(name);
    Section sections[max_sections];
    Section lone;
    bool found = false;

    // Behind the type (or the disposition), one parameter after each ';'.
    const char* p = skip_to_separator(header_value);
    while (*p == ';') {
        const char* attribute = skip_blanks(p + 1);
        const char* q = attribute;
        while (!ends_line(*q) && !blank(*q) && *q != '=' && *q != ';' && *q != '"') ++q;
        const char* attribute_end = q;
        q = skip_blanks(q);
        int number = 0;
        bool extended = false;
        if (*q == '=' && match_attribute(attribute, attribute_end, name, name_length, number, extended)) {
            const char* begin = skip_blanks(q + 1);
            const char* end;
            if (*begin == '"') {
                end = skip_quoted(begin + 1);
            } else {
                end = begin;
                while (!ends_line(*end) && *end != ';') ++end;
                while (end > begin && blank(end[-1])) --end;
            }
            Section& slot = number < 0 ? lone : sections[number];
            if (!slot.begin) slot = Section{begin, end, extended};
            found = true;
            q = end;
        }
        p = skip_to_separator(q);
    }
    if (!found) return false;

    std::string out;
    std::string charset_text;
    for (int i = 0; i < max_sections; ++i) {
        const Section& s = lone.begin ? lone : sections[i];
        if (!s.begin) break;
        std::string raw = unquoted(s.begin, s.end);
        if (i == 0 && s.extended) {
            // charset'language' in front of the first section's value.
            size_t first = raw.find('\'');
            size_t second = first == std::string::npos ? first : raw.find('\'', first + 1);
            if (second != std::string::npos) {
                charset_text.assign(raw, 0, first);
                raw.erase(0, second + 1);
            }
        }
        if (s.extended) append_percent_decoded(out, raw);
        else out += raw;
        if (lone.begin) break;
    }
    value = string(out.data(), out.size());
    charset = string(charset_text.data(), charset_text.size());
    return true;
}

#include <cstdio>
#include <cstring>
#include <string>

#include "base/form_fields.h"
#include "base/text_utils.h"
#include "platform/environment.h"
#include "platform/nocase.h"

namespace {

string from_std(const std::string& s) { return string(s.data(), s.size()); }

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

string html_escape(const char* text)
{
    std::string out;
    for (const char* p = text ? text : ""; *p; ++p) {
        switch (*p) {
        case '"': out += "&quot;"; break;
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out.push_back(*p);
        }
    }
    return from_std(out);
}

string quote_reply_html(const char* text)
{
    std::string out;
    if (text && *text) out = "&gt; ";
    for (const char* p = text ? text : ""; *p; ++p) {
        out.push_back(*p);
        if (*p == '\n') out += "&gt; ";
    }
    return from_std(out);
}

string url_encode(const char* text, bool encode_all)
{
    static const char always[] = "\"%&'+<>";
    std::string out;
    char hex[4];
    for (const char* p = text ? text : ""; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == ' ') {
            out.push_back('+');
        } else if (encode_all || std::strchr(always, c)) {
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return from_std(out);
}

// A '%' without two hexadecimal digits after it is copied as it is.
string url_decode(const char* text)
{
    std::string out;
    for (const char* p = text ? text : ""; *p; ++p) {
        if (*p == '+') {
            out.push_back(' ');
        } else if (*p == '%' && hex_value(p[1]) >= 0 && hex_value(p[2]) >= 0) {
            out.push_back(static_cast<char>(hex_value(p[1]) * 16 + hex_value(p[2])));
            p += 2;
        } else {
            out.push_back(*p);
        }
    }
    return from_std(out);
}

ListOf& form_fields()
{
    static ListOf fields;
    return fields;
}

const char* form_value(const char* name)
{
    if (!name) return nullptr;
    ListOfIterator it(form_fields());
    void* item;
    for (int more = it.first(item); more; more = it.next(item)) {
        const char* field = static_cast<const char*>(item);
        const char* eq = std::strchr(field, '=');
        size_t len = eq ? static_cast<size_t>(eq - field) : std::strlen(field);
        if (len > 1023) len = 1023;  // the name is read with a 1023-character scan
        if (len == 0) continue;
        if (std::strlen(name) == len && nocase_compare_n(field, name, len) == 0)
            return eq ? eq + 1 : field + std::strlen(field);
    }
    return nullptr;
}

bool is_old_browser()
{
    const char* agent = get_env("HTTP_USER_AGENT");
    if (!agent) return false;
    static const char* const old_agents[] = {"Microsoft Internet Explorer/", "MSIE 1.", "MSIE 2.", "MSIE 3."};
    for (const char* marker : old_agents)
        if (find_nocase(agent, marker)) return true;
    return false;
}

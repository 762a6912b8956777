#include "base/header_words.h"

#include <cstring>
#include <string>

#include "base/base64.h"
#include "base/quoted_printable.h"

string encode_header_text(const char* charset, bool enabled, const char* text, bool address_mode)
{
    if (!text) return string();
    bool eight_bit = false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        if (*p > 127) eight_bit = true;
    if (!enabled || !eight_bit) return string(text);
    int column = 1;
    string rest;
    string encoded = encode_quoted_printable(column, text, std::strlen(text), true, address_mode, rest);
    return string("=?") + (charset ? charset : "") + "?Q?" + encoded + "?=" + rest;
}

namespace {

int hex_or_zero(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

void decode_q(const char* p, const char* end, std::string& out)
{
    while (p < end) {
        char c = *p++;
        if (c == '_') {
            out.push_back(' ');
        } else if (c == '=') {
            int high = p < end ? hex_or_zero(*p++) : 0;
            int low = p < end ? hex_or_zero(*p++) : 0;
            out.push_back(static_cast<char>(high * 16 + low));
        } else {
            out.push_back(c);
        }
    }
}

}  // namespace

string decode_header_text(const char* text, string* last_charset)
{
    if (!text) return string();
    if (!std::strstr(text, "=?") || !std::strstr(text, "?=")) return string(text);
    std::string out;
    const char* p = text;
    while (*p) {
        const char* start = std::strstr(p, "=?");
        if (!start) {
            out.append(p);
            break;
        }
        out.append(p, static_cast<size_t>(start - p));
        const char* charset = start + 2;
        const char* q = std::strchr(charset, '?');
        if (!q || !q[1] || q[2] != '?') return string(text);
        char kind = q[1];
        if (kind != 'B' && kind != 'b' && kind != 'Q' && kind != 'q') return string(text);
        if (last_charset) *last_charset = string(charset, static_cast<size_t>(q - charset));
        const char* word = q + 3;
        const char* word_end = std::strchr(word, '?');
        if (!word_end) word_end = word + std::strlen(word);
        if (kind == 'B' || kind == 'b') out += base64_decode(word, static_cast<size_t>(word_end - word));
        else decode_q(word, word_end, out);
        p = word_end;
        if (p[0] == '?' && p[1] == '=') p += 2;
        else if (*p == '?') ++p;
    }
    return string(out.data(), out.size());
}

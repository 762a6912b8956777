#include <cstring>
#include <string>

#include "base/text_utils.h"

string trim_trailing_blanks(const string& text)
{
    string r(text);
    r.rtrim_char(' ');
    return r;
}

string unquote(const char* text, char q, bool escape)
{
    if (!text) return string();
    size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == ' ') --n;
    if (n == 0) return string();

    std::string out;
    out.reserve(n);
    bool quoted = false;
    const char first = text[0], last = text[n - 1];
    // p counts positions from 1, as the quote rule is stated.
    for (size_t p = 1; p <= n; ++p) {
        char c = text[p - 1];
        if (escape && c == '\\') {
            // The backslash stays, and protects the character after it.
            out.push_back(c);
            if (p < n) out.push_back(text[p]);
            ++p;
            continue;
        }
        if (c == q && ((p == 1 && last == q) || (p == n && first == q))) {
            quoted = true;
            continue;
        }
        out.push_back(c);
    }
    if (quoted)
        while (!out.empty() && out.back() == ' ') out.pop_back();
    return string(out.data(), out.size());
}

string unquote(const string& text, char q, bool escape) { return unquote(text.c_str(), q, escape); }

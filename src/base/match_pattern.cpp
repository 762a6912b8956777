// Wildcard matching of a whole text: '?' one character, '*' any run, '#' a
// digit, '!' a letter, '@' a run of digits, '$' a run of letters, '\\' quotes
// the next character. With literal classes only '*' and '\\' are special.
#include <cctype>

#include "base/text_utils.h"

namespace {

struct Matcher {
    const unsigned char* text;
    const unsigned char* pattern;
    bool ignore_case;
    bool literal;

    int fold(unsigned char c) const { return ignore_case ? std::toupper(c) : c; }
    bool same(unsigned char a, unsigned char b) const { return fold(a) == fold(b); }

    // Does text character t fit pattern character c where a '*' looks ahead?
    bool fits(unsigned char t, unsigned char c) const
    {
        if (!literal && c == '#') return std::isdigit(t);
        if (!literal && c == '!') return std::isalpha(t);
        return same(t, c);
    }

    enum class Star { matched, failed, resume };

    // At a '*' at pattern position pi: finds where the rest can start.
    Star star(size_t& ti, size_t& pi) const
    {
        size_t after = pi + 1;
        while (pattern[after] == '*') ++after;  // a run of stars is one star
        unsigned char c = pattern[after];
        if (c == 0) {
            pi = after;
            while (text[ti]) ++ti;
            return Star::matched;
        }
        for (size_t r = ti;; ++r) {
            while (text[r] && !fits(text[r], c)) ++r;
            if (!text[r]) return Star::failed;
            size_t tj = r + 1, pj = after + 1;
            for (;;) {
                if (!pattern[pj] && !text[tj]) {
                    ti = tj;
                    pi = pj;
                    return Star::matched;
                }
                if (!pattern[pj]) break;  // the text goes on: try a later start
                if (!text[tj] || !same(text[tj], pattern[pj])) {
                    if (text[tj] && std::isalnum(pattern[pj])) break;
                    ti = tj;  // let the main walk handle this pattern character
                    pi = pj;
                    return Star::resume;
                }
                ++tj;
                ++pj;
            }
        }
    }

    bool run() const
    {
        if (!*pattern) return !*text;
        size_t ti = 0, pi = 0;
        while (text[ti] && pattern[pi]) {
            unsigned char p = pattern[pi], t = text[ti];
            if (p == '\\') {
                if (!pattern[pi + 1] || !same(t, pattern[pi + 1])) return false;
                pi += 2;
                ++ti;
            } else if (p == '*') {
                Star s = star(ti, pi);
                if (s == Star::matched) return true;
                if (s == Star::failed) return false;
            } else if (!literal && p == '?') {
                ++ti, ++pi;
            } else if (!literal && p == '#') {
                if (!std::isdigit(t)) return false;
                ++ti, ++pi;
            } else if (!literal && p == '!') {
                if (!std::isalpha(t)) return false;
                ++ti, ++pi;
            } else if (!literal && p == '@') {
                while (std::isdigit(text[ti])) ++ti;
                ++pi;
            } else if (!literal && p == '$') {
                while (std::isalpha(text[ti])) ++ti;
                ++pi;
            } else {
                if (!same(t, p)) return false;
                ++ti, ++pi;
            }
        }
        if (!text[ti] && (pattern[pi] == '*' || pattern[pi] == '$' || pattern[pi] == '@')) return true;
        return !text[ti] && !pattern[pi];
    }
};

}  // namespace

bool match_pattern(const char* text, const char* pattern, bool ignore_case, bool literal_classes)
{
    if (!text || !pattern) return false;
    Matcher m{reinterpret_cast<const unsigned char*>(text), reinterpret_cast<const unsigned char*>(pattern),
              ignore_case, literal_classes};
    return m.run();
}

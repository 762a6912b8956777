#include "send/header_folding.h"

#include <cctype>
#include <cstring>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Parts of "=?charset?Q?text?=" and what follows it without a blank (an
// address mode value ends its name word right at the '<' of the address).
bool split_encoded_word(const std::string& word, std::string& head, std::string& text, std::string& rest)
{
    if (word.size() < 8 || word.compare(0, 2, "=?") != 0) return false;
    size_t q = word.find('?', 2);
    if (q == std::string::npos || q + 3 > word.size() || word[q + 2] != '?') return false;
    char form = static_cast<char>(std::toupper(static_cast<unsigned char>(word[q + 1])));
    size_t end = word.find("?=", q + 3);
    if (form != 'Q' || end == std::string::npos) return false;
    head = word.substr(0, q + 3);
    text = word.substr(q + 3, end - (q + 3));
    rest = word.substr(end + 2);
    return true;
}

// The byte an "=XX" of quoted text stands for, or -1.
int escaped_byte(const std::string& text, size_t at)
{
    if (at + 2 >= text.size() || text[at] != '=') return -1;
    if (!std::isxdigit(static_cast<unsigned char>(text[at + 1])) || !std::isxdigit(static_cast<unsigned char>(text[at + 2])))
        return -1;
    return static_cast<int>(std::strtol(text.substr(at + 1, 2).c_str(), nullptr, 16));
}

// Rewrites every over-long encoded word of the line as several words of at
// most 75 bytes, each after the first on a continuation line of its own: a
// reader that unfolds drops the white space between adjacent words, so
// they decode to the same text. A word is never split inside an escape or
// inside a character's continuation bytes.
std::string split_long_words(const std::string& line)
{
    std::string out;
    size_t i = 0;
    while (i < line.size()) {
        size_t end = i;
        while (end < line.size() && !is_blank(line[end])) ++end;
        std::string word = line.substr(i, end - i), head, text, rest;
        if (word.size() > 75 && split_encoded_word(word, head, text, rest) && head.size() + 2 + 12 < 75) {
            size_t room = 75 - head.size() - 2;
            std::string charset = head.substr(2, head.size() - 5);
            for (char& ch : charset) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            bool utf8 = charset == "utf-8" || charset == "utf8";
            size_t at = 0;
            bool first = true;
            while (at < text.size()) {
                size_t stop = at;
                while (stop < text.size()) {
                    size_t step = text[stop] == '=' ? 3 : 1;
                    if (stop - at + step > room) break;
                    stop += step;
                }
                // Back up so the next word starts a character (UTF-8 text
                // only: elsewhere every byte is a character).
                size_t cut = stop;
                while (utf8 && cut >= at + 3 && cut < text.size()) {
                    int b = escaped_byte(text, cut);
                    if (b < 0x80 || b > 0xBF) break;
                    cut -= 3;
                }
                if (cut > at) stop = cut;
                if (stop == at) stop = at + 1;
                if (!first) out += "\r\n ";
                out += head + text.substr(at, stop - at) + "?=";
                first = false;
                at = stop;
            }
            out += rest;
        } else {
            out += word;
        }
        while (end < line.size() && is_blank(line[end])) out += line[end++];
        i = end;
    }
    return out;
}

}  // namespace

bool fold_header_line(const std::string& line_in, std::string& out)
{
    if (line_in.size() <= max_header_line) {
        out += line_in;
        out += "\r\n";
        return true;
    }
    std::string text = split_long_words(line_in);
    std::string folded;
    folded.reserve(text.size() + text.size() / 64 + 2);
    // Each physical line (split words already stand on their own) is folded
    // at the last blank that leaves it at most the limit; a continuation
    // line begins with its blank, so the search looks past it.
    for (size_t from = 0; from <= text.size();) {
        size_t end = text.find("\r\n", from);
        if (end == std::string::npos) end = text.size();
        size_t start = from;
        while (end - start > max_header_line) {
            size_t p = start + max_header_line;
            while (p > start && !is_blank(text[p])) --p;
            if (p == start) return false;
            folded.append(text, start, p - start);
            folded += "\r\n";
            start = p;
        }
        folded.append(text, start, end - start);
        folded += "\r\n";
        from = end + 2;
    }
    out += folded;
    return true;
}

std::string without_line_ends(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c != '\r' && c != '\n' && c != '\0') {
            out += c;
            continue;
        }
        while (i + 1 < value.size() && (value[i + 1] == '\r' || value[i + 1] == '\n' || value[i + 1] == '\0')) ++i;
        out += ' ';
    }
    return out;
}

std::string quoted_parameter(const std::string& value)
{
    std::string out = "\"";
    for (char c : without_line_ends(value)) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

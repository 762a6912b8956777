#include "call_parser.h"

#include <cctype>
#include <cstdlib>

namespace {

void skip_blanks(const std::string& s, size_t& i)
{
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
}

// A double-quoted text with C escapes (\n \r \t \\ \" and \xHH).
bool parse_text(const std::string& s, size_t& i, std::string& out, std::string& error)
{
    ++i;
    while (i < s.size() && s[i] != '"') {
        char c = s[i++];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i >= s.size()) break;
        char e = s[i++];
        switch (e) {
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'x': {
            std::string hex = s.substr(i, 2);
            out.push_back(static_cast<char>(std::strtol(hex.c_str(), nullptr, 16)));
            i += hex.size();
            break;
        }
        default: out.push_back(e);
        }
    }
    if (i >= s.size()) {
        error = "a text is not closed";
        return false;
    }
    ++i;
    return true;
}

}  // namespace

bool parse_call(const std::string& s, ScriptCall& call, std::string& error)
{
    size_t i = 0;
    skip_blanks(s, i);
    while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) call.name.push_back(s[i++]);
    skip_blanks(s, i);
    if (call.name.empty() || i >= s.size() || s[i] != '(') {
        error = "expected name(arguments)";
        return false;
    }
    ++i;
    skip_blanks(s, i);
    if (i < s.size() && s[i] == ')') return true;
    for (;;) {
        skip_blanks(s, i);
        ScriptArgument a{false, "", 0};
        if (i < s.size() && s[i] == '"') {
            a.is_text = true;
            if (!parse_text(s, i, a.text, error)) return false;
        } else {
            size_t start = i;
            if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
            if (i == start) {
                error = "an argument is neither a text nor a number";
                return false;
            }
            a.integer = std::strtol(s.substr(start, i - start).c_str(), nullptr, 10);
        }
        call.arguments.push_back(a);
        skip_blanks(s, i);
        if (i < s.size() && s[i] == ',') {
            ++i;
            continue;
        }
        if (i < s.size() && s[i] == ')') return true;
        error = "expected ',' or ')'";
        return false;
    }
}

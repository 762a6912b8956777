#include "platform/profile.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/line_reader.h"
#include "platform/nocase.h"

namespace {

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool section_line(const std::string& line, std::string& name)
{
    std::string t = trim(line);
    if (t.size() < 2 || t[0] != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = trim(t.substr(1, close - 1));
    return true;
}

bool key_line(const std::string& line, std::string& key, std::string& value)
{
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = trim(line.substr(0, eq));
    value = trim(line.substr(eq + 1));
    return !key.empty();
}

std::vector<std::string> read_lines(const char* path)
{
    std::vector<std::string> lines;
    LineReader reader(path, 65536);
    std::string line;
    while (reader.next(line)) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

string read_profile_string(const char* section, const char* key, const char* fallback, const char* path)
{
    bool in_section = false;
    std::string name, k, v;
    for (const std::string& line : read_lines(path)) {
        if (section_line(line, name)) {
            in_section = nocase_compare(name.c_str(), section) == 0;
        } else if (in_section && key_line(line, k, v) && nocase_compare(k.c_str(), key) == 0) {
            return string(v.c_str());
        }
    }
    return string(fallback);
}

bool write_profile_string(const char* section, const char* key, const char* value, const char* path)
{
    std::vector<std::string> lines = read_lines(path);
    std::string name, k, v;
    long section_at = -1, last_in_section = -1;
    bool in_section = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (section_line(lines[i], name)) {
            in_section = nocase_compare(name.c_str(), section) == 0;
            if (in_section && section_at < 0) section_at = last_in_section = static_cast<long>(i);
            continue;
        }
        if (!in_section) continue;
        if (!trim(lines[i]).empty()) last_in_section = static_cast<long>(i);
        if (key_line(lines[i], k, v) && nocase_compare(k.c_str(), key) == 0) {
            lines[i] = std::string(k) + "=" + value;
            section_at = -2;  // replaced
            break;
        }
    }
    if (section_at == -1) {
        lines.push_back(std::string("[") + section + "]");
        lines.push_back(std::string(key) + "=" + value);
    } else if (section_at >= 0) {
        lines.insert(lines.begin() + last_in_section + 1, std::string(key) + "=" + value);
    }
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    for (const std::string& line : lines) std::fprintf(f, "%s\r\n", line.c_str());
    return std::fclose(f) == 0;
}

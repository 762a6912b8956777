#include <cstdio>

#include "base/text_utils.h"
#include "platform/paths.h"

string unique_file_name(const string& directory, string& name, bool unique)
{
    string path = join_path(directory, name);
    if (!unique || !file_exists(path.c_str())) return path;
    // Built as a string, so names of any length work.
    char number[24];
    for (unsigned long d = 1;; ++d) {
        std::snprintf(number, sizeof number, "%lu", d);
        string candidate = string("Copy") + number + "_" + name;
        path = join_path(directory, candidate);
        if (!file_exists(path.c_str())) {
            name = candidate;
            return path;
        }
    }
}

string dir_part(const char* path)
{
    long at = last_separator(path);
    if (at < 0) return string();
    return string(path, static_cast<size_t>(at));
}

string file_part(const char* path)
{
    if (!path) return string();
    long at = last_separator(path);
    return string(path + at + 1);
}

string zero_padded_number(unsigned value)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%010u", value & 0xFFFFu);
    return string(digits);
}

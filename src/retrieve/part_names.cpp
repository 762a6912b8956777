#include "retrieve/part_names.h"

#include <cstring>
#include <string>

namespace {

bool keeps(unsigned char c)
{
    if (c >= 128) return true;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    // White space is the blank and the tab only: CR and LF would end a line.
    return c != 0 && std::strchr(" \t$()+-._~", c) != nullptr;
}

}  // namespace

string sanitize_file_name(const char* bytes, size_t length)
{
    if (!bytes || length == 0) return string();
    if (length <= 2 && bytes[0] == '.' && (length == 1 || bytes[1] == '.'))
        return string("__", length);
    std::string out(bytes, length);
    for (char& c : out)
        if (!keeps(static_cast<unsigned char>(c))) c = '_';
    return string(out.data(), out.size());
}

string sanitize_file_name(const string& name) { return sanitize_file_name(name.c_str(), name.length()); }

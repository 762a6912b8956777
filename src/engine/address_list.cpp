#include "engine/address_list.h"

#include <string>

#include "base/line_reader.h"

string read_address_list(const char* path, bool hash)
{
    LineReader reader(path, 1023);
    std::string line, joined;
    while (reader.next(line)) {
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (line.empty() || line[0] == '\r' || line[0] == '\\') continue;
        if (line[0] == '#' && !hash) continue;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.empty()) continue;
        if (!joined.empty()) joined.push_back(',');
        joined += line;
    }
    return string(joined.data(), joined.size());
}

#include "base/line_reader.h"

LineReader::LineReader(const char* path, size_t max_line)
    : file_(path ? std::fopen(path, "rb") : nullptr), max_line_(max_line)
{
}

LineReader::~LineReader()
{
    if (file_) std::fclose(file_);
}

bool LineReader::next(std::string& line)
{
    line.clear();
    if (!file_) return false;
    int c;
    bool any = false;
    while ((c = std::fgetc(file_)) != EOF) {
        any = true;
        if (line.size() < max_line_) line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return any;
}

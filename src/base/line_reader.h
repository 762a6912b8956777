// Reads a text file line by line with a bound on the line length. A longer
// line is cut at the bound and the rest of it skipped, so it never turns into
// a second line. The last line is read whether or not it has a line end.
#pragma once

#include <cstdio>
#include <string>

class LineReader {
public:
    LineReader(const char* path, size_t max_line);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool is_open() const { return file_ != nullptr; }
    // The next line with its "\n" (and "\r") when it had one; false at the end.
    bool next(std::string& line);

private:
    FILE* file_;
    size_t max_line_;
};

// Header lines no longer than mail allows (998 bytes before the line end):
// a longer line is folded before a blank, and an encoded word too long to
// fit is split into several words. A line that still cannot be folded (a
// run of 998 bytes with no blank) is refused.
#pragma once

#include <string>

constexpr size_t max_header_line = 998;

// Appends the line (given without its line end), folded where needed and
// ended with CR LF, to out; false, with out unchanged, when it cannot be
// folded.
bool fold_header_line(const std::string& line, std::string& out);

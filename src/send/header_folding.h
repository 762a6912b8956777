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

// A value made safe to stand in a header line: every run of CR and LF (and
// every NUL) becomes one blank, so a value can never end its line and start
// a header, or a body, of its own.
std::string without_line_ends(const std::string& value);

// A parameter value as a quoted string: without line ends, and with '"'
// and '\\' escaped.
std::string quoted_parameter(const std::string& value);

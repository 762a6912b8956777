// Address list files ("-tolist:", "-cclist:", "-bcclist:").
#pragma once

#include "base/text_string.h"

// The file's addresses joined with commas: one a line, empty lines and lines
// that begin with CR or '\\' skipped, '#' lines skipped unless hash is set.
string read_address_list(const char* path, bool hash);

// Temporary files: created safely in TMPDIR (or /tmp).
#pragma once

#include "base/text_string.h"

// Creates an empty file with a fresh name beginning with prefix; returns its
// path, or the empty string when none could be made.
string make_temp_file(const char* prefix);

// Temporary files: created safely in TMPDIR (or /tmp).
#pragma once

#include "base/text_string.h"

// Creates an empty file with a fresh name beginning with prefix; returns its
// path, or the empty string when none could be made.
string make_temp_file(const char* prefix);
// Creates an empty folder (mode 0700) with a fresh name beginning with
// prefix; returns its path, or the empty string when none could be made.
string make_temp_folder(const char* prefix);
// Removes an empty folder: 0, or -1 when it could not be removed.
int remove_folder(const char* path);

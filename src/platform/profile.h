// Profile files (INI): "[section]" lines and "key=value" lines, section and
// key names compared without case, the first match wins; a missing file or
// key gives the default.
#pragma once

#include "base/text_string.h"

string read_profile_string(const char* section, const char* key, const char* fallback, const char* path);
// Replaces or adds the key; false when the file cannot be written.
bool write_profile_string(const char* section, const char* key, const char* value, const char* path);

// Names of received parts made safe to use as a file name in a folder.
#pragma once

#include <cstddef>

#include "base/text_string.h"

// A copy of the name, byte for byte, in which an ASCII letter or digit, a
// byte of 128 or more, a space, a tab and each of $ ( ) + - . _ ~ stay, and
// every other byte becomes '_': so '/', '\\', ':', a NUL and every control
// byte (CR and LF too: a name never holds a line end) are replaced.
// "." and ".." come back as "_" and "__", so no name can stand for the folder
// itself or the one above it. The result is never longer than the name; an
// empty name stays empty, and callers treat it as no name at all.
string sanitize_file_name(const char* bytes, size_t length);
string sanitize_file_name(const string& name);

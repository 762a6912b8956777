// Replacing a file's contents so that a reader, or a crash at any moment,
// finds either the old contents or the new ones, never a part of them.
#pragma once

#include <cstddef>
#include <string>

// Writes data to a new file beside path, flushes it to the disk and renames
// it over path. The file keeps the mode (and, where allowed, the owner) of
// the one it replaces; a new file gets 0666 less the umask. When path is a
// symbolic link, the file it points to is replaced. False, with the reason,
// when the old file was left as it was.
bool replace_file(const char* path, const char* data, size_t length, std::string& reason);

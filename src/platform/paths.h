// Paths on this platform: '/' separates folders; names written with '\\'
// (as scripts from the other platform do) are split at either separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/text_string.h"

constexpr char path_separator = '/';
extern const char* const null_device;     // where output goes to vanish
extern const char* const default_base_path;  // TAVRIN_PATH when unset

// dir + separator + name; just name when dir is empty.
string join_path(const string& dir, const string& name);
// Index of the last '/' or '\\' in path, or -1.
long last_separator(const char* path);
// '\\' turned into the platform separator.
string to_platform_separators(const string& path);

bool file_exists(const char* path);
// True when path names a folder (links followed).
bool is_folder(const char* path);
// True when path names a plain file (not a folder, device or pipe).
bool is_plain_file(const char* path);
// Size in bytes, or -1 when the file cannot be examined.
int64_t file_size(const char* path);
int remove_file(const char* path);
// Where the next write of an open file goes, and cutting the file there.
int64_t file_offset(FILE* file);
bool truncate_file(FILE* file, int64_t size);

// When a file was last written.
#pragma once

#include <cstdint>

// Seconds since the epoch, or -1 when the file cannot be examined.
int64_t file_modified_time(const char* path);

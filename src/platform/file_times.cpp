#include "platform/file_times.h"

#include <sys/stat.h>

int64_t file_modified_time(const char* path)
{
    struct stat st;
    if (!path || stat(path, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtime);
}

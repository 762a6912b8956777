#include "platform/paths.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

const char* const null_device = "/dev/null";
const char* const default_base_path = "/tmp";

string join_path(const string& dir, const string& name)
{
    if (dir.empty()) return name;
    return dir + path_separator + name;
}

long last_separator(const char* path)
{
    long found = -1;
    for (long i = 0; path && path[i]; ++i)
        if (path[i] == '/' || path[i] == '\\') found = i;
    return found;
}

string to_platform_separators(const string& path) { return path.replace_char('\\', path_separator); }

bool file_exists(const char* path)
{
    struct stat st;
    return path && stat(path, &st) == 0;
}

bool is_folder(const char* path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_plain_file(const char* path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

int64_t file_size(const char* path)
{
    struct stat st;
    if (!path || stat(path, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int remove_file(const char* path) { return std::remove(path); }

int64_t file_offset(FILE* file)
{
    off_t at = ftello(file);
    return at < 0 ? 0 : static_cast<int64_t>(at);
}

bool truncate_file(FILE* file, int64_t size)
{
    std::fflush(file);
    std::clearerr(file);
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0 && fseeko(file, static_cast<off_t>(size), SEEK_SET) == 0;
}

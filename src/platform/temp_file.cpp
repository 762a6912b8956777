#include "platform/temp_file.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/environment.h"

namespace {

std::string temp_pattern(const char* prefix)
{
    const char* dir = get_env("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    return std::string(dir) + "/" + (prefix ? prefix : "tav") + "XXXXXX";
}

}  // namespace

string make_temp_file(const char* prefix)
{
    std::string name = temp_pattern(prefix);
    int fd = mkstemp(&name[0]);
    if (fd < 0) return string();
    close(fd);
    return string(name.c_str());
}

string make_temp_folder(const char* prefix)
{
    std::string name = temp_pattern(prefix);
    if (!mkdtemp(&name[0])) return string();
    return string(name.c_str());
}

int remove_folder(const char* path) { return path && rmdir(path) == 0 ? 0 : -1; }

#include "platform/temp_file.h"

#include <cstdlib>
#include <unistd.h>

#include "platform/environment.h"

string make_temp_file(const char* prefix)
{
    const char* dir = get_env("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    string pattern = string(dir) + "/" + (prefix ? prefix : "tav") + "XXXXXX";
    char* name = new char[pattern.length() + 1];
    for (size_t i = 0; i <= pattern.length(); ++i) name[i] = pattern.c_str()[i];
    int fd = mkstemp(name);
    string result;
    if (fd >= 0) {
        close(fd);
        result = name;
    }
    delete[] name;
    return result;
}

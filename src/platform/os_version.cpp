#include "platform/os_version.h"

#include <cstdlib>
#include <sys/utsname.h>

bool read_os_version(OsVersion& out)
{
    struct utsname name;
    if (uname(&name) != 0) return false;
    char* end = nullptr;
    out.major = std::strtoul(name.release, &end, 10);
    out.minor = (end && *end == '.') ? std::strtoul(end + 1, nullptr, 10) : 0;
    out.platform_id = 2;
    return true;
}

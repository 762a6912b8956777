// The operating system's version as the engine reports it: the platform id of
// the NT family (2) with the kernel's major and minor numbers.
#pragma once

struct OsVersion {
    unsigned long major;
    unsigned long minor;
    unsigned long platform_id;
};

// False when the version cannot be read.
bool read_os_version(OsVersion& out);

// Directory listing: every entry of one folder but "." and "..".
#pragma once

#include <cstdint>

struct DirScanEntry {
    const char* name;
    bool is_directory;
    bool is_regular;
    bool is_link;      // the name itself is a symbolic link
    int64_t size;
    int64_t created;   // st_ctime: the nearest this platform has
    int64_t accessed;
    int64_t written;
};

using DirScanVisitor = void (*)(const DirScanEntry& entry, void* context);

// Calls visit for each entry; false when the folder cannot be listed.
bool scan_directory(const char* dir, DirScanVisitor visit, void* context);

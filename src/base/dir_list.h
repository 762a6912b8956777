// DirList: the files (or folders) of a folder whose names match a pattern,
// optionally searched through the folders below it.
#pragma once

#include <cstdint>
#include <ctime>

#include "base/lists.h"
#include "base/text_string.h"

struct DirEntry {
    string path;
    int32_t size = 0;
    int64_t created = 0;
    int64_t accessed = 0;
    int64_t written = 0;
};

class DirList {
public:
    DirList(int use_system_pattern, int accept_all);
    virtual ~DirList();
    DirList(const DirList&) = delete;
    DirList& operator=(const DirList&) = delete;

    // path_pattern is a folder and a file pattern ("in/*.txt"). directories
    // non-zero lists folders instead of files; recursive non-zero searches
    // the folders below as well (a negative value limits the depth).
    void scan(const char* path_pattern, int directories, int recursive);
    int take_entry(DirEntry& out);
    int32_t entry_count() const { return entries_.count(); }

    int64_t file_count() const { return file_count_; }
    int64_t total_bytes() const { return total_bytes_; }

private:
    struct ScanRequest;
    static void visit(const struct DirScanEntry& entry, void* context);

    ListOf entries_;
    int32_t use_system_pattern_;
    int32_t accept_all_;
    int32_t depth_ = 0;
    int64_t file_count_ = 0;
    int64_t total_bytes_ = 0;
    int64_t oldest_ = 0;
    int64_t newest_;
};

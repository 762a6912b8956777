#include "base/dir_list.h"

#include "base/text_utils.h"
#include "platform/dir_scan.h"
#include "platform/paths.h"

struct DirList::ScanRequest {
    DirList* self;
    string dir;
    string pattern;
    int directories;
    int recursive;
};

DirList::DirList(int use_system_pattern, int accept_all)
    : use_system_pattern_(use_system_pattern), accept_all_(accept_all), newest_(time(nullptr) + 10000)
{
}

DirList::~DirList()
{
    void* item;
    while (entries_.take_first(item)) delete static_cast<DirEntry*>(item);
}

void DirList::visit(const DirScanEntry& e, void* context)
{
    auto* req = static_cast<ScanRequest*>(context);
    DirList* self = req->self;
    if (e.is_regular) {
        ++self->file_count_;
        self->total_bytes_ += e.size;
    }
    bool wanted_kind = req->directories ? e.is_directory : e.is_regular;
    if (!wanted_kind && !req->recursive) return;

    string full = join_path(req->dir, string(e.name));
    bool both = self->use_system_pattern_ && self->accept_all_;
    bool matches = both || match_pattern(e.name, req->pattern.c_str(), true, self->use_system_pattern_ != 0);
    int64_t written = e.written ? e.written : e.created;
    if (matches && written > self->oldest_ && written < self->newest_ && wanted_kind) {
        auto* entry = new DirEntry;
        entry->path = full;
        entry->size = static_cast<int32_t>(e.size);
        entry->created = e.created;
        entry->accessed = e.accessed;
        entry->written = written;
        self->entries_.add(entry);
    }
    // A linked folder is not entered: a link back up would never end.
    if (req->recursive && e.is_directory && !e.is_link) {
        int deeper = req->recursive < 0 ? req->recursive + 1 : req->recursive;
        if (deeper != 0) self->scan(join_path(full, req->pattern).c_str(), req->directories, deeper);
    }
}

void DirList::scan(const char* path_pattern, int directories, int recursive)
{
    string path = to_platform_separators(string(path_pattern));
    if (depth_ == 0) {
        file_count_ = 0;
        total_bytes_ = 0;
    }
    ++depth_;
    ScanRequest req{this, dir_part(path.c_str()), file_part(path.c_str()), directories, recursive};
    scan_directory(req.dir.c_str(), &DirList::visit, &req);
    --depth_;
}

int DirList::take_entry(DirEntry& out)
{
    void* item;
    if (!entries_.take_first(item)) return 0;
    auto* entry = static_cast<DirEntry*>(item);
    out = *entry;
    delete entry;
    return 1;
}

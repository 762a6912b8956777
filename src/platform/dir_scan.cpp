#include "platform/dir_scan.h"

#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>

bool scan_directory(const char* dir, DirScanVisitor visit, void* context)
{
    DIR* d = opendir(dir && *dir ? dir : ".");
    if (!d) return false;
    std::string path;
    while (struct dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        path.assign(dir && *dir ? dir : ".");
        path.push_back('/');
        path.append(e->d_name);
        struct stat st;
        struct stat link_st;
        bool is_link = lstat(path.c_str(), &link_st) == 0 && S_ISLNK(link_st.st_mode);
        if (stat(path.c_str(), &st) != 0) continue;
        DirScanEntry entry{e->d_name,
                           S_ISDIR(st.st_mode),
                           S_ISREG(st.st_mode),
                           is_link,
                           static_cast<int64_t>(st.st_size),
                           static_cast<int64_t>(st.st_ctime),
                           static_cast<int64_t>(st.st_atime),
                           static_cast<int64_t>(st.st_mtime)};
        visit(entry, context);
    }
    closedir(d);
    return true;
}

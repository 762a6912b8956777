#include "platform/file_replace.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file a path stands for: a link's target, else the path itself.
std::string target_of(const char* path)
{
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path, resolved)) return resolved;
    }
    return path;
}

std::string folder_of(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool write_all(int fd, const char* data, size_t length)
{
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool replace_file(const char* path, const char* data, size_t length, std::string& reason)
{
    if (!path || !*path) {
        reason = "no file name";
        return false;
    }
    std::string target = target_of(path);
    std::string temp = target + ".tmpXXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat old;
    if (stat(target.c_str(), &old) == 0) {
        if (fchown(fd, old.st_uid, old.st_gid) != 0) {}  // only the owner's own group, unless privileged
        fchmod(fd, old.st_mode & 07777);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    int failure = 0;
    errno = 0;
    if (!write_all(fd, data, length) || fsync(fd) != 0) failure = errno ? errno : EIO;
    if (close(fd) != 0 && !failure) failure = errno;
    if (!failure && std::rename(temp.c_str(), target.c_str()) != 0) failure = errno;
    if (failure) {
        reason = std::strerror(failure);
        unlink(temp.c_str());
        return false;
    }
    // The new name itself is made to last.
    int dir = open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

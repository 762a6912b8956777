#include "platform/module_files.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/environment.h"

namespace {

bool is_file(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool make_folder(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    return false;
}

}  // namespace

string module_folder()
{
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&module_folder), &info) || !info.dli_fname) return string();
    const char* slash = std::strrchr(info.dli_fname, '/');
    return slash ? string(info.dli_fname, static_cast<size_t>(slash - info.dli_fname + 1)) : string();
}

string search_file(const char* folder, const char* name)
{
    if (folder && *folder && is_file(std::string(folder) + name)) return string((std::string(folder) + name).c_str());
    if (is_file(name)) {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) return string((std::string(cwd) + "/" + name).c_str());
        return string(name);
    }
    const char* path = get_env("PATH");
    std::string all = path ? path : "";
    size_t start = 0;
    while (start <= all.size()) {
        size_t colon = all.find(':', start);
        if (colon == std::string::npos) colon = all.size();
        std::string dir = all.substr(start, colon - start);
        if (!dir.empty() && is_file(dir + "/" + name)) return string((dir + "/" + name).c_str());
        start = colon + 1;
    }
    return string();
}

string user_settings_folder()
{
    const char* xdg = get_env("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && *xdg) {
        base = xdg;
    } else {
        const char* home = get_env("HOME");
        if (!home || !*home) return string();
        base = std::string(home) + "/.config";
        make_folder(base);
    }
    std::string korvanel = base + "/Korvanel";
    std::string settings = korvanel + "/Settings";
    if (!make_folder(korvanel) || !make_folder(settings)) return string();
    return string(settings.c_str());
}

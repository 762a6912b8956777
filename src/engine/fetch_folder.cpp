#include "engine/fetch_folder.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "base/dir_list.h"
#include "platform/paths.h"

namespace {

constexpr size_t max_name = 1023;
constexpr size_t dot_column = 50;

bool space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

FetchRequest fetch_request(const std::string& subject)
{
    FetchRequest request;
    size_t at = 0, n = subject.size();
    while (at < n && space(subject[at])) ++at;
    while (at < n && !space(subject[at])) ++at;  // "fetch" or "get"
    while (at < n && space(subject[at])) ++at;
    size_t end = at;
    while (end < n && !space(subject[end])) ++end;
    request.name = subject.substr(at, end - at);
    request.refused = subject.find("..") != std::string::npos ||
                      request.name.find_first_of("/\\") != std::string::npos || request.name.size() > max_name;
    return request;
}

std::string fetch_path(const std::string& folder, const std::string& name)
{
    return join_path(string(folder.c_str()), string(name.c_str())).c_str();
}

std::string file_index_text(const std::string& folder)
{
    std::string text = "FILE INDEX:\r\n\r\n";
    // Every file: the folder's "*.*" of the other platform.
    DirList files(0, 0);
    files.scan(fetch_path(folder, "*").c_str(), 0, 0);
    std::string prefix = fetch_path(folder, "");
    DirEntry entry;
    while (files.take_entry(entry)) {
        std::string full = entry.path.c_str();
        std::string name = full.compare(0, prefix.size(), prefix) == 0 ? full.substr(prefix.size()) : full;
        char size[32];
        std::snprintf(size, sizeof size, "%8ld", static_cast<long>(entry.size / 1024));
        time_t written = static_cast<time_t>(entry.written);
        char when[32] = "";
        if (!ctime_r(&written, when)) when[0] = 0;
        when[24] = 0;
        text += name + " " + std::string(full.size() < dot_column ? dot_column - full.size() : 0, '.') + " " + size +
                "K   " + when + "\r\n";
    }
    text += "\r\n";
    return text;
}

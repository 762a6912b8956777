#include "platform/name_servers.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/line_reader.h"
#include "platform/sockets.h"

void read_name_servers_from(const char* path, string& primary, string& secondary, string& domain)
{
    primary.clear();
    secondary.clear();
    domain.clear();
    string search;
    LineReader reader(path, 1023);
    std::string line;
    char key[64], value[256];
    while (reader.next(line)) {
        key[0] = value[0] = 0;
        if (std::sscanf(line.c_str(), "%63s %255s", key, value) != 2) continue;
        if (std::strcmp(key, "nameserver") == 0) {
            if (primary.empty()) primary = value;
            else if (secondary.empty()) secondary = value;
        } else if (std::strcmp(key, "domain") == 0) {
            domain = value;
        } else if (std::strcmp(key, "search") == 0 && search.empty()) {
            search = value;
        }
    }
    if (domain.empty()) domain = search;
    if (domain.empty()) {
        char host[256];
        const char* dot = read_host_name(host, sizeof host) ? std::strchr(host, '.') : nullptr;
        if (dot && dot[1]) domain = dot + 1;
    }
}

void read_name_servers(string& primary, string& secondary, string& domain)
{
    read_name_servers_from("/etc/resolv.conf", primary, secondary, domain);
}

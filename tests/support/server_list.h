// The answers of a DNS query as "host/preference" texts, in list order.
#pragma once

#include <string>
#include <vector>

#include "net/dns.h"

inline std::vector<std::string> hosts(List<Server>& servers)
{
    std::vector<std::string> out;
    ListIterator<Server> it(servers);
    Server s;
    for (int more = it.first(s); more; more = it.next(s))
        out.push_back(std::string(s.host.c_str()) + "/" + std::to_string(s.preference));
    return out;
}

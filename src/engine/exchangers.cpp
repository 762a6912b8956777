#include "engine/exchangers.h"

#include <cstring>

#include "engine/option_state.h"

bool domain_is_address(const string& domain)
{
    if (domain.empty() || std::strspn(domain.c_str(), "0123456789.") != domain.length()) return false;
    int dots = 0;
    for (size_t i = 0; i < domain.length(); ++i) dots += domain.char_at(i) == '.';
    return dots > 2;
}

void query_exchangers(DNS& dns, const string& domain, List<Server>& exchangers)
{
    List<Server> found;
    if (dns.query(found, domain.c_str(), dns_mx) <= 0 && dns.query(found, domain.c_str(), dns_aaaa) <= 0)
        dns.query(found, domain.c_str(), dns_a);
    dns.disconnect();
    // An answer without a usable host (the root name, or a name that could
    // not be decoded) is dropped; an MX answer made only of such records
    // still means no address lookup.
    Server s;
    while (found.take_first(s))
        if (!s.host.empty()) exchangers.add(s);
}

void prepare_dns(DNS& dns)
{
    dns.verbose = options().verbose;
    dns.timeout = process_state().timeout;
}

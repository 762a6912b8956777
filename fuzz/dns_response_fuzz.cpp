// The DNS answer decoder on any message: it never reads outside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/dns.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> message(data, data + size);  // exactly sized, so overreads are caught
    DNS dns;
    List<Server> servers;
    int n = dns.parse_response(message.data(), message.size(), servers);
    if (n < 0 || n != servers.count()) std::abort();
    return 0;
}

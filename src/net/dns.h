// The engine's own DNS client: MX, AAAA and A queries over TCP to a name
// server's port 53, answers ordered by preference.
#pragma once

#include <cstdint>

#include "base/lists.h"
#include "base/text_string.h"
#include "net/sim_sock.h"

struct Server {
    string host;
    int16_t preference = 0;  // -1 for a literal
    int32_t ttl = 0;         // -1 for a literal
};

enum DnsType { dns_a = 1, dns_ns = 2, dns_mx = 15, dns_aaaa = 28 };

class DNS : public SockClient {
public:
    DNS() : SockClient(0, '\n', 0) {}
    int disconnect() override;

    // Adds the answers for name to servers, lowest preference first; returns
    // how many were added, 1 for a "[literal]", -1 when the exchange failed.
    int query(List<Server>& servers, const char* name, int type);

    int verbose = 0;

    // Decodes an answer message (without its two-byte length). Records go to
    // servers; returns how many. The message is untrusted: nothing outside
    // it is ever read. A record whose name cannot be decoded (a pointer
    // loop, a name running past the message) still counts, with an empty
    // host, so callers can tell "no answer" from "no usable answer".
    int parse_response(const unsigned char* message, size_t length, List<Server>& servers);

private:
    // The name at offset (labels and compression pointers) into name_;
    // false when it runs outside the message or its pointers loop.
    bool decode_name(const unsigned char* message, size_t length, size_t offset);
    char name_[256] = "";
};

// The machine's first two name servers and its DNS domain.
void find_dns_config(string& primary, string& secondary, string& domain);

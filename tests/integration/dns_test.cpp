#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "net/dns.h"
#include "../support/server_list.h"
#include "../support/fixtures.h"
#include "../support/loopback_peer.h"

namespace {

// dnsmasq on 127.0.0.2 answering for test.example only.
class NameServer : public fixtures::FixtureServer {
public:
    explicit NameServer(const std::string& records, const std::string& port = closed_port())
        : FixtureServer("dns_server", "dnsmasq.pid", port, "127.0.0.2 " + port + " " + records)
    {
    }
};

}  // namespace

TEST(DnsAgainstDnsmasq, MxLowestPreferenceFirstThenAddresses)
{
    REQUIRE_PROGRAM("dnsmasq");
    NameServer server("mx20.test.example:20:127.0.0.3 mx10.test.example:10:127.0.0.4");
    ASSERT_TRUE(server.started());
    DNS dns;
    ASSERT_EQ(dns.connect(string("127.0.0.2"), string(server.port().c_str())), 1);
    dns.timeout = 10;
    List<Server> mx;
    EXPECT_EQ(dns.query(mx, "test.example", dns_mx), 2);
    EXPECT_EQ(hosts(mx), (std::vector<std::string>{"mx10.test.example/10", "mx20.test.example/20"}));

    List<Server> a;
    EXPECT_EQ(dns.query(a, "mx10.test.example", dns_a), 1);
    EXPECT_EQ(hosts(a), (std::vector<std::string>{"127.0.0.4/0"}));

    List<Server> none;
    EXPECT_EQ(dns.query(none, "mx10.test.example", dns_aaaa), 0);
    EXPECT_EQ(dns.query(none, "unknown.test.example", dns_mx), 0);
    dns.disconnect();
    EXPECT_EQ(dns.disconnect(), 1);
}

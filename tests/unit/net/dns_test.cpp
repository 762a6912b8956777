#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/dns.h"
#include "../../support/dns_messages.h"
#include "../../support/server_list.h"
#include "platform/name_servers.h"
#include "../../support/loopback_peer.h"

namespace {

using namespace dns_messages;

// A name server on loopback that answers one query with the given message.
std::vector<std::string> ask(const Bytes& answer, int type = 15, bool announce_more = false)
{
    LoopbackPeer peer([&](int s) {
        std::string length = LoopbackPeer::receive(s, 2);
        if (length.size() < 2) return;
        size_t n = (static_cast<unsigned char>(length[0]) << 8) | static_cast<unsigned char>(length[1]);
        LoopbackPeer::receive(s, n);
        LoopbackPeer::send_text(s, framed(answer, announce_more ? 100 : 0));
    });
    DNS dns;
    EXPECT_EQ(dns.connect(string("127.0.0.1"), string(peer.port().c_str())), 1);
    dns.timeout = 5;
    List<Server> servers;
    int n = dns.query(servers, "test.example", type);
    std::vector<std::string> found = hosts(servers);
    EXPECT_EQ(n, static_cast<int>(found.size()));
    return found;
}

}  // namespace

TEST(Dns, EqualPreferencesStandInReverseArrival)
{
    Bytes m = response_head(3);
    put_mx(m, 20, name_bytes("mx20.test.example"));
    put_mx(m, 10, name_bytes("first.test.example"));
    put_mx(m, 10, name_bytes("second.test.example"));
    EXPECT_EQ(ask(m), (std::vector<std::string>{"second.test.example/10", "first.test.example/10",
                                                "mx20.test.example/20"}));
}

TEST(Dns, CompressionPointerIntoTheQuestion)
{
    Bytes m = response_head(1);
    Bytes exchange{4, 'm', 'a', 'i', 'l', 0xC0, 0x0C};  // "mail" + the question's name
    put_mx(m, 5, exchange);
    EXPECT_EQ(ask(m), (std::vector<std::string>{"mail.test.example/5"}));
}

TEST(Dns, ErrorCodeWithAnswersStillGivesThem)
{
    Bytes m = response_head(1, 3);
    put_mx(m, 7, name_bytes("mx.test.example"));
    EXPECT_EQ(ask(m), (std::vector<std::string>{"mx.test.example/7"}));
}

TEST(Dns, TruncatedResponseGivesWhatWasRead)
{
    Bytes m = response_head(2);
    put_mx(m, 1, name_bytes("whole.test.example"));
    put_mx(m, 2, name_bytes("cut.test.example"));
    m.resize(m.size() - 6);  // the second answer ends early
    EXPECT_EQ(ask(m, 15, true), (std::vector<std::string>{"whole.test.example/1"}));
}

TEST(Dns, UndecodableExchangeNameGivesAnEmptyHost)
{
    struct Case {
        const char* what;
        Bytes (*exchange)(const Bytes& head);
    } cases[] = {
        {"pointer to itself", [](const Bytes& m) { return self_pointer(m); }},
        {"labels then a pointer back to them",
         [](const Bytes& m) {
             Bytes e{3, 'a', 'b', 'c'};
             Bytes p = self_pointer(m);  // points at the "abc" label
             e.insert(e.end(), p.begin(), p.end());
             return e;
         }},
        {"pointer past the message", [](const Bytes&) { return Bytes{0xC3, 0xFF}; }},
        {"label past the message", [](const Bytes&) { return Bytes{9, 'a', 'b'}; }},
        {"no terminating zero", [](const Bytes&) { return Bytes{3, 'a', 'b', 'c'}; }},
    };
    for (const Case& c : cases) {
        Bytes m = response_head(1);
        put_mx(m, 1, c.exchange(m));
        DNS dns;
        List<Server> servers;
        EXPECT_EQ(dns.parse_response(m.data(), m.size(), servers), 1) << c.what;  // still an answer
        EXPECT_EQ(hosts(servers), (std::vector<std::string>{"/1"})) << c.what;
    }
}

TEST(Dns, ARecordAndLiteral)
{
    Bytes m = response_head(1);
    put16(m, 0xC00C);
    put16(m, 1);
    put16(m, 1);
    put16(m, 0);
    put16(m, 60);
    put16(m, 4);
    m.insert(m.end(), {127, 0, 0, 9});
    EXPECT_EQ(ask(m, 1), (std::vector<std::string>{"127.0.0.9/0"}));

    DNS offline;
    List<Server> servers;
    EXPECT_EQ(offline.query(servers, "[192.0.2.1]", 15), 1);
    EXPECT_EQ(hosts(servers), (std::vector<std::string>{"192.0.2.1/-1"}));
    EXPECT_EQ(offline.query(servers, "example.com", 15), -1);  // not connected
}

TEST(Dns, MalformedMessagesNeverReadOutside)
{
    DNS dns;
    List<Server> servers;
    Bytes header_only(12, 0xFF);  // claims 65535 questions and answers
    EXPECT_EQ(dns.parse_response(header_only.data(), header_only.size(), servers), 0);
    Bytes m = response_head(1);
    put16(m, 0xC00C);
    put16(m, 15);
    put16(m, 1);
    put16(m, 0);
    put16(m, 1);
    put16(m, 200);  // data length past the end
    put16(m, 1);
    EXPECT_EQ(dns.parse_response(m.data(), m.size(), servers), 0);
    EXPECT_EQ(dns.parse_response(m.data(), 5, servers), 0);
    EXPECT_EQ(servers.count(), 0);
}

TEST(Dns, ConfigurationFromResolverFile)
{
    std::string path = "/tmp/tavrin-resolv-test.conf";
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("# comment\nsearch corp.example other.example\nnameserver 10.1.1.1\nnameserver 10.1.1.2\n"
               "nameserver 10.1.1.3\n", f);
    std::fclose(f);
    string primary, secondary, domain;
    read_name_servers_from(path.c_str(), primary, secondary, domain);
    EXPECT_STREQ(primary.c_str(), "10.1.1.1");
    EXPECT_STREQ(secondary.c_str(), "10.1.1.2");
    EXPECT_STREQ(domain.c_str(), "corp.example");
    read_name_servers_from("/nonexistent/resolv.conf", primary, secondary, domain);
    EXPECT_STREQ(primary.c_str(), "");
    std::remove(path.c_str());
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/dns.h"
#include "../../support/server_list.h"
#include "platform/name_servers.h"
#include "../../support/loopback_peer.h"

namespace {

using Bytes = std::vector<unsigned char>;

void put16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<unsigned char>(v >> 8));
    b.push_back(static_cast<unsigned char>(v));
}

void put_name(Bytes& b, const std::string& name)
{
    size_t start = 0;
    while (start < name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos) dot = name.size();
        b.push_back(static_cast<unsigned char>(dot - start));
        b.insert(b.end(), name.begin() + static_cast<long>(start), name.begin() + static_cast<long>(dot));
        start = dot + 1;
    }
    b.push_back(0);
}

// A response header and the question for name (type MX); the question name
// starts at offset 12, so a pointer 0xC00C names it.
Bytes response_head(unsigned answers, unsigned rcode = 0, const std::string& name = "test.example")
{
    Bytes b;
    put16(b, 1);
    put16(b, 0x8180 | rcode);
    put16(b, 1);
    put16(b, answers);
    put16(b, 0);
    put16(b, 0);
    put_name(b, name);
    put16(b, 15);
    put16(b, 1);
    return b;
}

void put_mx(Bytes& b, unsigned preference, const Bytes& exchange)
{
    put16(b, 0xC00C);
    put16(b, 15);
    put16(b, 1);
    put16(b, 0);
    put16(b, 3600);
    put16(b, static_cast<unsigned>(2 + exchange.size()));
    put16(b, preference);
    b.insert(b.end(), exchange.begin(), exchange.end());
}

Bytes name_bytes(const std::string& name)
{
    Bytes b;
    put_name(b, name);
    return b;
}


// A name server on loopback that answers one query with the given message.
std::vector<std::string> ask(const Bytes& answer, int type = 15, bool announce_more = false)
{
    LoopbackPeer peer([&](int s) {
        std::string length = LoopbackPeer::receive(s, 2);
        if (length.size() < 2) return;
        size_t n = (static_cast<unsigned char>(length[0]) << 8) | static_cast<unsigned char>(length[1]);
        LoopbackPeer::receive(s, n);
        Bytes out;
        put16(out, static_cast<unsigned>(answer.size() + (announce_more ? 100 : 0)));
        out.insert(out.end(), answer.begin(), answer.end());
        LoopbackPeer::send_text(s, std::string(out.begin(), out.end()));
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

TEST(Dns, PointerLoopEndsTheName)
{
    Bytes m = response_head(1);
    size_t exchange_at = m.size() + 14;  // where the exchange name will start
    Bytes exchange{3, 'a', 'b', 'c', static_cast<unsigned char>(0xC0 | (exchange_at >> 8)),
                   static_cast<unsigned char>(exchange_at)};
    put_mx(m, 1, exchange);
    std::vector<std::string> got = ask(m);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].substr(0, 8), "abc.abc.");
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

// Mail-exchanger mode through the program: a scripted name server on port
// 53 of its own loopback address, and a listener on the same address at the
// mail port that records whether the run mistook the name server for the
// mail host.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>

#include "../../support/command.h"
#include "../../support/dns_messages.h"
#include "../../support/loopback_peer.h"

namespace {

using namespace dns_messages;

// Answers the first query with answer and any further one with no records,
// until the client closes; counts the queries.
void serve_queries(int s, const Bytes& answer, std::atomic<int>& queries)
{
    for (;;) {
        std::string length = LoopbackPeer::receive(s, 2);
        if (length.size() < 2) return;
        size_t n = (static_cast<unsigned char>(length[0]) << 8) | static_cast<unsigned char>(length[1]);
        if (LoopbackPeer::receive(s, n).size() < n) return;
        LoopbackPeer::send_text(s, framed(queries++ == 0 ? answer : response_head(0)));
    }
}

struct Routed {
    CommandResult run;
    std::string port;
    int queries;
    bool name_server_used_as_mail_host;
};

// Runs "-mx" with the name server at ns_address and the mail port beside it.
Routed run_mx(const char* ns_address, const Bytes& answer, const std::string& args)
{
    std::atomic<int> queries{0};
    std::atomic<bool> contacted{false};
    LoopbackPeer name_server([&](int s) { serve_queries(s, answer, queries); }, ns_address, 53);
    LoopbackPeer mail_port(
        [&](int s) {
            contacted = true;
            LoopbackPeer::send_text(s, "554 not a mail server\r\n");
        },
        ns_address);
    EXPECT_TRUE(name_server.listening()) << "port 53 of " << ns_address << " (needs the right to bind it)";
    CommandResult r = run_command_line(std::string(TAVRIN_BINARY) + " -mx -host:" + ns_address +
                                       " -port:" + mail_port.port() + " " + args + " < /dev/null");
    return {r, mail_port.port(), queries.load(), contacted.load()};
}

const char* const plain_send = "-to:u@test.example -from:me@test.example -s:x -msg:x";

}  // namespace

TEST(MxRouting, ExchangerWithoutAUsableNameIsNoRoute)
{
    char t[] = "/tmp/tavrin-mx-XXXXXX";
    ASSERT_NE(mkdtemp(t), nullptr);
    std::string dir = t;
    std::ofstream(dir + "/messages.txt") << "From: me@test.example\nTo: u@test.example\nContents:\nx\n";
    Bytes m = response_head(1);
    put_mx(m, 10, self_pointer(m));
    struct Case {
        const char* ns_address;
        std::string args;
        std::string error;
    } cases[] = {
        {"127.0.53.1", plain_send, "Could not route to domain: test.example\r\n"},
        {"127.0.53.3", "-import -file:" + dir + "/messages.txt", "Could not get MX: 'test.example'\r\n"},
    };
    for (const Case& c : cases) {
        Routed r = run_mx(c.ns_address, m, c.args);
        EXPECT_EQ(r.run.status, 1) << c.args;
        EXPECT_NE(r.run.err.find(c.error), std::string::npos) << r.run.err;
        EXPECT_EQ(r.run.err.find("Could not connect to server"), std::string::npos) << r.run.err;
        EXPECT_EQ(r.run.out.find("Sent"), std::string::npos) << r.run.out;
        EXPECT_EQ(r.queries, 1) << c.args;  // an MX answer, if unusable, is not followed by address lookups
        EXPECT_FALSE(r.name_server_used_as_mail_host) << c.args;
    }
    std::system(("rm -rf " + dir).c_str());
}

TEST(MxRouting, UsableExchangersAreTriedInPreferenceOrderPastABadOne)
{
    // Nothing listens on the two usable exchangers, so each refusal is one
    // line in the order they were tried.
    Bytes m = response_head(3);
    put_mx(m, 20, name_bytes("127.0.53.11"));
    put_mx(m, 5, self_pointer(m));
    put_mx(m, 10, name_bytes("127.0.53.12"));
    Routed r = run_mx("127.0.53.2", m, plain_send);
    EXPECT_EQ(r.run.status, 1);
    size_t first = r.run.err.find("Could not connect to server: 127.0.53.12:" + r.port + ",");
    size_t second = r.run.err.find("Could not connect to server: 127.0.53.11:" + r.port + ",");
    EXPECT_NE(first, std::string::npos) << r.run.err;
    EXPECT_NE(second, std::string::npos) << r.run.err;
    EXPECT_LT(first, second) << r.run.err;
    EXPECT_EQ(r.run.err.find("127.0.53.2:"), std::string::npos) << r.run.err;
    EXPECT_FALSE(r.name_server_used_as_mail_host);
}

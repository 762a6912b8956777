#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>

#include "base/text_stream.h"
#include "net/sim_sock.h"
#include "../../support/loopback_peer.h"

namespace {

class Client : public SockClient {
public:
    Client() : SockClient(0, '\n', 0) {}
};

std::string line_of(const char* buffer, int n) { return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : ""; }

}  // namespace

TEST(SockClient, ReadLineSplitsAtCapacity)
{
    LoopbackPeer peer([](int s) { LoopbackPeer::send_text(s, "abcdefgh\nnext\n"); LoopbackPeer::pause_ms(200); });
    Client c;
    ASSERT_EQ(c.connect("127.0.0.1", peer.port().c_str()), 1);
    c.timeout = 5;
    char buf[64];
    EXPECT_EQ(line_of(buf, c.read_line(buf, 5)), "abcde");
    EXPECT_EQ(line_of(buf, c.read_line(buf, 5)), "fgh\n");
    EXPECT_EQ(c.wait_readable(0, 0), 1);  // "next\n" is buffered: no system call needed
    EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), "next\n");
    EXPECT_EQ(c.lines_read, 2u);
}

TEST(SockClient, PeekThenReadLine)
{
    LoopbackPeer peer([](int s) { LoopbackPeer::send_text(s, "+OK ready\r\n"); LoopbackPeer::pause_ms(200); });
    Client c;
    ASSERT_EQ(c.connect("127.0.0.1", peer.port().c_str()), 1);
    c.timeout = 5;
    char byte = 0;
    EXPECT_EQ(c.peek_byte(byte), 1);
    EXPECT_EQ(byte, '+');
    char buf[4];
    EXPECT_EQ(c.peek(buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "+OK");
    char line[64];
    EXPECT_EQ(line_of(line, c.read_line(line, 64)), "+OK ready\r\n");
}

TEST(SockClient, TimeoutBoundsReadLineAndLeavesTheSocketUsable)
{
    // The peer sends only when the test says so, so the first read cannot
    // get anything in time, however slow the machine is.
    std::promise<void> go;
    std::shared_future<void> told = go.get_future().share();
    LoopbackPeer peer([told](int s) {
        told.wait_for(std::chrono::seconds(10));
        LoopbackPeer::send_text(s, "late\n");
        LoopbackPeer::pause_ms(300);
    });
    Client c;
    ASSERT_EQ(c.connect("127.0.0.1", peer.port().c_str()), 1);
    c.timeout = 1;
    char buf[64];
    EXPECT_EQ(c.read_line(buf, 64), 0);  // timed out: nothing stored
    EXPECT_TRUE(c.connected());
    EXPECT_EQ(c.lines_read, 0u);
    go.set_value();
    c.timeout = 5;
    EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), "late\n");
    EXPECT_EQ(c.lines_read, 1u);
}

TEST(SockClient, ReadCollectsExactlyTheBytesAskedFor)
{
    LoopbackPeer peer([](int s) {
        LoopbackPeer::send_text(s, "0123");
        LoopbackPeer::pause_ms(50);
        LoopbackPeer::send_text(s, "456789xyz");
    });
    Client c;
    ASSERT_EQ(c.connect("127.0.0.1", peer.port().c_str()), 1);
    c.timeout = 5;
    char buf[16];
    EXPECT_EQ(c.read(buf, 10), 10);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(c.read(buf, 16), 3);  // then the peer closes: what there was
    EXPECT_EQ(std::string(buf, 3), "xyz");
    EXPECT_EQ(c.read_line(buf, 16), 0);
}

TEST(SockClient, LargeWriteIsSentOnceAndWhole)
{
    const size_t size = 8 << 20;  // far more than the socket buffers hold
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 131 + (i >> 9));
    std::string received;
    {
        LoopbackPeer peer([&](int s) {
            LoopbackPeer::pause_ms(300);  // let the sender's buffers fill first
            received = LoopbackPeer::receive(s, size + 1);
        });
        Client c;
        ASSERT_EQ(c.connect("127.0.0.1", peer.port().c_str()), 1);
        c.timeout = 30;
        EXPECT_EQ(c.write(data.data(), static_cast<int>(data.size())), static_cast<int>(size));
        c.close();
    }
    EXPECT_EQ(received, data);
}

TEST(SockClient, RefusedConnectionGivesTheNegatedNumberAndTheText)
{
    Client c;
    std::string port = closed_port();
    clear_report();
    EXPECT_EQ(c.connect("127.0.0.1", port.c_str()), -10061);
    // On the error stream, not the process's stderr (which the library's host owns).
    std::string text = error_stream.contents();
    EXPECT_EQ(text.rfind("*** connect(IPv4) to '127.0.0.1' fd ", 0), 0u) << text;
    EXPECT_NE(text.find(" failed: 10061\n"), std::string::npos);
    EXPECT_FALSE(c.connected());
    char buf[4];
    EXPECT_EQ(c.read_line(buf, 4), -1);
    EXPECT_EQ(c.write("x", 1), -1);
    EXPECT_EQ(c.wait_readable(0, 0), -1);
}

TEST(SockClient, ConnectAgainAfterClose)
{
    LoopbackPeer first([](int s) { LoopbackPeer::send_text(s, "one\n"); LoopbackPeer::pause_ms(100); });
    LoopbackPeer second([](int s) { LoopbackPeer::send_text(s, "two\n"); LoopbackPeer::pause_ms(100); });
    Client c;
    c.timeout = 5;
    char buf[16];
    ASSERT_EQ(c.connect("127.0.0.1", first.port().c_str()), 1);
    EXPECT_EQ(line_of(buf, c.read_line(buf, 16)), "one\n");
    ASSERT_EQ(c.connect(string("127.0.0.1"), string(second.port().c_str())), 1);
    EXPECT_EQ(line_of(buf, c.read_line(buf, 16)), "two\n");
    EXPECT_STREQ(c.service_name.c_str(), second.port().c_str());
}

TEST(NameResolution, HostsAndPorts)
{
    uint32_t address = 0;
    EXPECT_EQ(resolve_host("10.0.0.1", address), 1);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
    EXPECT_EQ(b[0], 10);
    EXPECT_EQ(b[3], 1);
    EXPECT_EQ(resolve_host("localhost", address), 1);  // looked up
    EXPECT_EQ(b[0], 127);
    EXPECT_EQ(resolve_host("no-such-host.invalid", address), 0);
    EXPECT_EQ(resolve_host(nullptr, address), 0);
    EXPECT_EQ(resolve_port("25"), 25);
    EXPECT_EQ(resolve_port(""), 0);
    EXPECT_EQ(resolve_port(nullptr), 0);
    EXPECT_EQ(resolve_port("no-such-service"), 0);
    EXPECT_STRNE(local_host_name(), "");
}

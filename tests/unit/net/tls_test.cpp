// The TLS socket client against an in-process TLS peer.
#include <gtest/gtest.h>

#include <string>

#include "engine/text_stream.h"
#include "net/ssl_sock.h"
#include "../../support/loopback_peer.h"
#include "../../support/tls_peer.h"

namespace {

class Client : public SSL_SockClient {
public:
    Client() : SSL_SockClient(0, '\n', 0) {}
};

std::string line_of(const char* b, int n) { return n > 0 ? std::string(b, static_cast<size_t>(n)) : ""; }

// Every test starts without a TLS context and with empty streams.
class TlsSocket : public testing::Test {
protected:
    void SetUp() override
    {
        release_tls_context();
        clear_report();
    }
    void TearDown() override { release_tls_context(); }

    static testing::AssertionResult start(Client& c, const std::string& port, int timeout = 10)
    {
        c.timeout = timeout;
        if (c.connect("127.0.0.1", port.c_str()) != 1) return testing::AssertionFailure() << "no connection";
        if (c.start_tls(nullptr, 0) != 1) return testing::AssertionFailure() << error_stream.contents();
        return testing::AssertionSuccess();
    }
};

}  // namespace

TEST_F(TlsSocket, ReadsLinesAndAPartialLineCutByTheCloseGivesZero)
{
    TlsPeer peer({"hello over tls\r\nsecond line\r\npartial"});
    Client c;
    ASSERT_TRUE(start(c, peer.port()));
    EXPECT_STRNE(c.cipher_name, "");
    // A self-signed server certificate: one warning, and the connection is used.
    EXPECT_EQ(error_stream.contents(), "SSL WARNING: self-signed certificate\r\n");
    char buf[128];
    EXPECT_EQ(line_of(buf, c.read_line(buf, 128)), "hello over tls\r\n");
    EXPECT_EQ(c.wait_readable(1, 0), 1);
    EXPECT_EQ(line_of(buf, c.read_line(buf, 128)), "second line\r\n");
    EXPECT_EQ(c.read_line(buf, 128), 0);  // "partial", then close_notify
    c.close();
    EXPECT_EQ(c.ssl, nullptr);
    EXPECT_FALSE(c.connected());
}

TEST_F(TlsSocket, SecondConnectionReusesTheFirstContext)
{
    {
        TlsPeer peer({"one\n"});
        Client c;
        c.timeout = 10;
        ASSERT_EQ(c.connect("127.0.0.1", peer.port().c_str()), 1);
        ASSERT_EQ(c.start_tls("/nonexistent/client.pem", 0), 1);
        EXPECT_NE(error_stream.contents().find("SSL ERROR: load certificate failed\r\n"), std::string::npos);
    }
    clear_report();
    {
        TlsPeer peer({"two\n"});
        Client c;
        c.timeout = 10;
        ASSERT_EQ(c.connect("127.0.0.1", peer.port().c_str()), 1);
        ASSERT_EQ(c.start_tls("/another/missing.pem", 0), 1);
        EXPECT_EQ(error_stream.contents().find("load certificate"), std::string::npos);  // not loaded again
        EXPECT_EQ(tls_context_starts(), 1);
        char buf[16];
        EXPECT_EQ(line_of(buf, c.read_line(buf, 16)), "two\n");
    }
    release_tls_context();
    EXPECT_EQ(tls_context_starts(), 0);
}

TEST_F(TlsSocket, HandshakeWithAPeerThatIsNoTlsServerFails)
{
    LoopbackPeer peer([](int s) {
        LoopbackPeer::send_text(s, "220 plain text, no TLS here\r\n");
        LoopbackPeer::pause_ms(300);
    });
    Client c;
    c.timeout = 5;
    ASSERT_EQ(c.connect("127.0.0.1", peer.port().c_str()), 1);
    EXPECT_EQ(c.start_tls(nullptr, 0), 0);
    EXPECT_EQ(error_stream.contents().rfind("SSL ERROR: ", 0), 0u);
    c.close();
}

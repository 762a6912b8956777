#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "base/text_stream.h"
#include "net/ssl_sock.h"
#include "../support/fixtures.h"
#include "../support/loopback_peer.h"

namespace {

class Client : public SSL_SockClient {
public:
    Client() : SSL_SockClient(0, '\n', 0) {}
};

// The text a TLS server sends, in a file of its own.
std::string input_file(const std::string& text)
{
    static int count = 0;
    std::string path = "/tmp/tavrin-tls-input-" + std::to_string(getpid()) + "-" + std::to_string(++count);
    std::ofstream(path) << text;
    return path;
}

// OpenSSL's s_server on a free port, sending one text to one client. Its
// standard input is open once it runs, so the input file can go at once.
class TlsServer : public fixtures::FixtureServer {
public:
    explicit TlsServer(const std::string& text, const std::string& port = closed_port())
        : TlsServer(port, input_file(text), 0)
    {
    }

private:
    TlsServer(const std::string& port, const std::string& input, int)
        : FixtureServer("tls_server", "s_server.pid", port, port + " " + input)
    {
        std::remove(input.c_str());
    }
};

std::string line_of(const char* b, int n) { return n > 0 ? std::string(b, static_cast<size_t>(n)) : ""; }

}  // namespace

TEST(TlsSockets, ImplicitTlsReadsLinesAndAPartialLineAtCloseGivesZero)
{
    REQUIRE_PROGRAM("openssl");
    release_tls_context();
    clear_report();
    TlsServer server("hello over tls\r\nsecond line\r\npartial");
    ASSERT_TRUE(server.started());
    Client c;
    c.timeout = 10;
    ASSERT_EQ(c.connect("127.0.0.1", server.port().c_str()), 1);
    ASSERT_EQ(c.start_tls(nullptr, 0), 1) << error_stream.contents();
    EXPECT_STRNE(c.cipher_name, "");
    // A self-signed server certificate: one warning, and the connection is used.
    EXPECT_EQ(error_stream.contents(), "SSL WARNING: self-signed certificate\r\n");
    char buf[128];
    EXPECT_EQ(line_of(buf, c.read_line(buf, 128)), "hello over tls\r\n");
    EXPECT_EQ(c.wait_readable(1, 0), 1);
    EXPECT_EQ(line_of(buf, c.read_line(buf, 128)), "second line\r\n");
    EXPECT_EQ(c.read_line(buf, 128), 0);  // "partial", then the peer closed
    c.close();
    EXPECT_EQ(c.ssl, nullptr);
}

TEST(TlsSockets, SecondConnectionReusesTheFirstContext)
{
    REQUIRE_PROGRAM("openssl");
    release_tls_context();
    clear_report();
    {
        TlsServer server("one\n");
        ASSERT_TRUE(server.started());
        Client c;
        c.timeout = 10;
        ASSERT_EQ(c.connect("127.0.0.1", server.port().c_str()), 1);
        ASSERT_EQ(c.start_tls("/nonexistent/client.pem", 0), 1);
        EXPECT_NE(error_stream.contents().find("SSL ERROR: load certificate failed\r\n"), std::string::npos);
    }
    clear_report();
    {
        TlsServer server("two\n");
        ASSERT_TRUE(server.started());
        Client c;
        c.timeout = 10;
        ASSERT_EQ(c.connect("127.0.0.1", server.port().c_str()), 1);
        ASSERT_EQ(c.start_tls("/another/missing.pem", 0), 1);
        EXPECT_EQ(error_stream.contents().find("load certificate"), std::string::npos);  // not loaded again
        EXPECT_EQ(tls_context_starts(), 1);
        char buf[16];
        EXPECT_EQ(line_of(buf, c.read_line(buf, 16)), "two\n");
    }
    release_tls_context();
    EXPECT_EQ(tls_context_starts(), 0);
}

TEST(TlsSockets, HandshakeWithAPeerThatIsNoTlsServerFails)
{
    release_tls_context();
    clear_report();
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

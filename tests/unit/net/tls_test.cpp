// The TLS socket client against an in-process TLS peer: where records end,
// when the peer is silent, and how line and byte reads share what came.
#include <gtest/gtest.h>

#include <csignal>
#include <pthread.h>
#include <string>
#include <vector>

#include "base/text_stream.h"
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

// read_line until it gives nothing more.
std::vector<std::string> all_lines(Client& c)
{
    std::vector<std::string> lines;
    char buf[4096];
    for (int n; (n = c.read_line(buf, sizeof buf)) > 0;) lines.push_back(std::string(buf, static_cast<size_t>(n)));
    return lines;
}

// read until n bytes came (one call may give fewer) or it gives nothing more.
std::string read_bytes(Client& c, int n)
{
    std::string got;
    char buf[256];
    while (static_cast<int>(got.size()) < n) {
        int want = n - static_cast<int>(got.size());
        int r = c.read(buf, want < 256 ? want : 256);
        if (r <= 0) break;
        got.append(buf, static_cast<size_t>(r));
    }
    return got;
}

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

TEST_F(TlsSocket, LinesComeBackWhateverTheRecordsAre)
{
    // 2000 lines of many lengths, some longer than the socket's own buffer
    // and some empty, sent as records of 16 KB that cut lines anywhere.
    std::vector<std::string> many;
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        size_t length = i % 250 == 7 ? 1490 + i % 20 : static_cast<size_t>(i * 37 % 200);
        char letter = static_cast<char>('a' + i % 26);
        std::string line = "L" + std::to_string(i) + ":" + std::string(length, letter) + "\r\n";
        if (i % 500 == 3) line = "\r\n";
        many.push_back(line);
        text += line;
    }
    std::vector<std::string> large_records;
    for (size_t at = 0; at < text.size(); at += 16384) large_records.push_back(text.substr(at, 16384));

    struct Case {
        const char* what;
        std::vector<std::string> records;
        int pause_ms;  // between records, so that they arrive one by one
        std::vector<std::string> lines;
    } cases[] = {
        {"many lines in few large records", large_records, 0, many},
        {"one line over three records",
         {"first\r\nalpha-", "beta-", "gamma\r\nlast\r\n"},
         50,
         {"first\r\n", "alpha-beta-gamma\r\n", "last\r\n"}},
        {"the line feed alone in the next record", {"cr\r", "\n", "lf\n"}, 50, {"cr\r\n", "lf\n"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        TlsPeer peer([&k](TlsPeer::Session& s) {
            for (const std::string& r : k.records) {
                if (!s.write(r)) return;
                TlsPeer::Session::pause_ms(k.pause_ms);
            }
        });
        Client c;
        ASSERT_TRUE(start(c, peer.port()));
        EXPECT_EQ(all_lines(c), k.lines);
        EXPECT_EQ(c.lines_read, k.lines.size());
    }
}

TEST_F(TlsSocket, ReadLineSplitsAtCapacityAsOnAPlainSocket)
{
    TlsPeer peer({"abcdefgh\nnext\n"});
    Client c;
    ASSERT_TRUE(start(c, peer.port()));
    char buf[64];
    EXPECT_EQ(line_of(buf, c.read_line(buf, 5)), "abcde");
    EXPECT_EQ(line_of(buf, c.read_line(buf, 5)), "fgh\n");
    EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), "next\n");
    EXPECT_EQ(c.lines_read, 2u);
}

// The peer stays silent until the test lets it go on. If a wait sat out
// the socket's 30 s time-out instead of its own 0.2 s, the peer would stop
// waiting after 5 s and write, and the wait would return 1.
TEST_F(TlsSocket, WaitReadableKeepsToItsOwnTimeWhenThePeerIsSilent)
{
    for (int version : {0, TLS1_2_VERSION}) {
        SCOPED_TRACE(version ? "TLS 1.2" : "highest version");
        TlsPeer peer(
            [](TlsPeer::Session& s) {
                s.wait_go_on(5000);
                s.write("late line\r\n");
            },
            version);
        Client c;
        ASSERT_TRUE(start(c, peer.port(), 30));
        EXPECT_EQ(c.wait_readable(0, 200000), 0);
        peer.go_on();
        EXPECT_EQ(c.wait_readable(5, 0), 1);
        char buf[64];
        EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), "late line\r\n");
    }
}

TEST_F(TlsSocket, WaitReadableSeesALineAlreadyBuffered)
{
    TlsPeer peer([](TlsPeer::Session& s) {
        s.write("first\r\nsecond\r\n");
        s.wait_go_on(5000);
        s.write("third\r\n");
    });
    Client c;
    ASSERT_TRUE(start(c, peer.port(), 30));
    char buf[64];
    EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), "first\r\n");
    // "second" came in the same record: readable with nothing more arriving.
    EXPECT_EQ(c.wait_readable(0, 0), 1);
    EXPECT_NE(c.pending(), 0);
    EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), "second\r\n");
    // Now nothing is buffered and the peer is silent.
    EXPECT_EQ(c.wait_readable(0, 200000), 0);
    peer.go_on();
    EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), "third\r\n");
}

TEST_F(TlsSocket, ReadAndReadLineShareWhatCameInOrder)
{
    TlsPeer peer({"+OK 20 octets\r\n0123456789", "abcdefghij", "\r\n.\r\n"});
    Client c;
    ASSERT_TRUE(start(c, peer.port()));
    char buf[64];
    EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), "+OK 20 octets\r\n");
    // The rest of the first record, and part of the next one.
    EXPECT_EQ(read_bytes(c, 15), "0123456789abcde");
    EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), "fghij\r\n");
    EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), ".\r\n");
    EXPECT_EQ(c.read(buf, 64), 0);
}

TEST_F(TlsSocket, WritesReachThePeerWhole)
{
    std::string block(40000, '\0');  // more than two records
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + (i >> 8));
    std::string command, received;
    TlsPeer peer([&](TlsPeer::Session& s) {
        command = s.read_line();
        received = s.read(block.size());
        s.write("250 ok\r\n");
    });
    Client c;
    ASSERT_TRUE(start(c, peer.port()));
    EXPECT_EQ(c.write("EHLO client\r\n", 13), 13);
    EXPECT_EQ(c.write(block.data(), static_cast<int>(block.size())), static_cast<int>(block.size()));
    char buf[64];
    EXPECT_EQ(line_of(buf, c.read_line(buf, 64)), "250 ok\r\n");
    c.close();
    peer.join();
    EXPECT_EQ(command, "EHLO client\r\n");
    EXPECT_EQ(received, block);
}

// Writing on after the peer has reset the connection fails; the process
// must not get SIGPIPE for it. The signal is held back on this thread for
// the check, so a fault shows as a failure and does not end the run.
TEST_F(TlsSocket, WritingToAPeerThatResetFailsWithoutSigpipe)
{
    TlsPeer peer([](TlsPeer::Session& s) { s.reset(); });
    Client c;
    ASSERT_TRUE(start(c, peer.port()));
    peer.join();  // the reset has been sent

    sigset_t pipe_signal, before;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
    int results[3];
    for (int& r : results) r = c.write("NOOP\r\n", 6);
    c.close();
    sigset_t pending;
    sigpending(&pending);
    bool raised = sigismember(&pending, SIGPIPE) == 1;
    if (raised) {
        int taken;
        sigwait(&pipe_signal, &taken);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    // A signal that the process ignores does no harm.
    struct sigaction now;
    sigaction(SIGPIPE, nullptr, &now);
    bool harmful = raised && now.sa_handler != SIG_IGN;

    EXPECT_LT(results[2], 0);  // the first may still go out before the reset is seen
    EXPECT_FALSE(harmful) << "a write raised SIGPIPE";
}

// Lines that came in the clear just before the handshake must not be read
// as if TLS had brought them (a reply injected around STARTTLS).
TEST_F(TlsSocket, CleartextBeforeTheHandshakeIsRefused)
{
    TlsPeer peer([](TlsPeer::Session& s) { s.write("250 from the server\r\n"); }, 0,
                 "220 go ahead\r\n250 INJECTED\r\n");
    Client c;
    c.timeout = 10;
    ASSERT_EQ(c.connect("127.0.0.1", peer.port().c_str()), 1);
    char buf[128];
    ASSERT_EQ(line_of(buf, c.read_line(buf, sizeof buf)), "220 go ahead\r\n");
    EXPECT_EQ(c.start_tls(nullptr, 0), 0);
    EXPECT_NE(error_stream.contents().find("SSL ERROR: unencrypted data before the handshake\r\n"), std::string::npos);
    c.close();
}

// A second record that OpenSSL has already read ahead is there to read,
// though the socket itself has nothing more to show.
TEST_F(TlsSocket, WaitReadableSeesARecordReadAhead)
{
    TlsPeer peer(std::vector<std::string>{"one\r\n", "two\r\n"});
    Client c;
    ASSERT_TRUE(start(c, peer.port()));
    char buf[128];
    ASSERT_EQ(line_of(buf, c.read_line(buf, sizeof buf)), "one\r\n");
    EXPECT_EQ(c.wait_readable(5, 0), 1);
    EXPECT_EQ(line_of(buf, c.read_line(buf, sizeof buf)), "two\r\n");
}

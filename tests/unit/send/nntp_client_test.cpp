// The news transport against a scripted server: a POST refused with 480
// logs in and is sent again; the article follows and ends with ".".
#include <gtest/gtest.h>

#include <string>
#include <sys/socket.h>

#include "../../support/loopback_peer.h"
#include "send/nntp_client.h"

namespace {

std::string read_line(int s)
{
    std::string line;
    char c;
    while (::recv(s, &c, 1, 0) == 1) {
        line += c;
        if (c == '\n') break;
    }
    return line;
}

}  // namespace

TEST(NntpClient, APostRefusedWith480LogsInAndIsSentAgain)
{
    std::vector<std::string> seen;
    LoopbackPeer peer([&seen](int s) {
        LoopbackPeer::send_text(s, "200 ready\r\n");
        auto expect = [&](const char* answer) {
            seen.push_back(read_line(s));
            LoopbackPeer::send_text(s, answer);
        };
        expect("480 authentication required\r\n");  // POST
        expect("381 password please\r\n");           // AUTHINFO USER
        expect("281 welcome\r\n");                   // AUTHINFO PASS
        expect("340 send it\r\n");                   // POST again
        std::string line;
        while ((line = read_line(s)) != ".\r\n" && !line.empty()) seen.push_back(line);
        LoopbackPeer::send_text(s, "240 posted\r\n");
        seen.push_back(read_line(s));  // QUIT
        LoopbackPeer::send_text(s, "205 bye\r\n");
    });
    MyNntpClient t{string()};
    t.timeout = 10;
    t.user = "reader";
    t.password = "secret";
    t.composer.qp = 0;  // as "-news" sets it
    ASSERT_EQ(t.open_connection("127.0.0.1", peer.port().c_str(), nullptr, 0), 1);
    Envelope e;
    e.from = "me@test.example";
    e.to = "test.one";
    e.subject = "hello";
    EXPECT_EQ(t.send_message(e, ".dot\r\n", 6), 1) << t.reply;
    t.disconnect();
    peer.join();
    ASSERT_GE(seen.size(), 5u);
    EXPECT_EQ(seen[0], "POST\r\n");
    EXPECT_EQ(seen[1], "AUTHINFO USER reader\r\n");
    EXPECT_EQ(seen[2], "AUTHINFO PASS secret\r\n");
    EXPECT_EQ(seen[3], "POST\r\n");
    bool groups = false, stuffed = false;
    for (const std::string& l : seen) {
        groups = groups || l == "Newsgroups: test.one\r\n";
        stuffed = stuffed || l == "..dot\r\n";
    }
    EXPECT_TRUE(groups);
    EXPECT_TRUE(stuffed);
    EXPECT_EQ(seen.back(), "QUIT\r\n");
}

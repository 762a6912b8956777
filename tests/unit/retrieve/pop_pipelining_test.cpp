// Asking a POP3 server for messages ahead: only when its CAPA offers
// PIPELINING, never past the last message wanted, and answers that nobody
// wants any more are read past (a dot-stuffed line is no end) before the
// next command goes out.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "../../support/loopback_peer.h"
#include "retrieve/read_mail.h"

namespace {

// A POP3 server with three messages that answers every command line as it
// reads it (so pipelined commands are answered in order) and keeps the
// command lines it got after the login.
class PipelinePeer {
public:
    explicit PipelinePeer(bool offers_pipelining)
        : peer_([this, offers_pipelining](int s) { serve(s, offers_pipelining); })
    {
    }
    std::string port() const { return peer_.port(); }
    std::vector<std::string> commands()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return commands_;
    }
    static std::string message(int n)
    {
        // Message 2 has a dot-stuffed line that must not end it.
        return "Subject: m" + std::to_string(n) + "\r\n\r\nbody " + std::to_string(n) + "\r\n" +
               (n == 2 ? "..not the end\r\n" : "");
    }

private:
    void serve(int s, bool offers_pipelining)
    {
        LoopbackPeer::send_text(s, "+OK ready\r\n");
        std::string line;
        char c;
        while (::recv(s, &c, 1, 0) == 1) {
            line += c;
            if (c != '\n') continue;
            std::string command = line.substr(0, line.size() - 2);
            line.clear();
            std::string answer = "+OK\r\n";
            if (command == "STAT") answer = "+OK 3 90\r\n";
            if (command == "LIST") answer = "+OK\r\n1 30\r\n2 30\r\n3 30\r\n.\r\n";
            if (command == "CAPA") answer = offers_pipelining ? "+OK\r\nTOP\r\nPIPELINING\r\n.\r\n" : "-ERR no\r\n";
            if (command.rfind("RETR ", 0) == 0) answer = "+OK\r\n" + message(std::stoi(command.substr(5))) + ".\r\n";
            if (command.rfind("USER", 0) != 0 && command.rfind("PASS", 0) != 0 && command != "STAT" && command != "LIST") {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(command);
            }
            LoopbackPeer::send_text(s, answer);
            if (command == "QUIT") return;
        }
    }

    std::mutex mutex_;
    std::vector<std::string> commands_;
    LoopbackPeer peer_;  // last: its thread stops before the rest goes
};

std::string body(PopClient& pop) { return std::string(pop.text(), static_cast<size_t>(pop.body_length)); }

bool connect_and_log_in(PopClient& pop, const std::string& port, int read_ahead_until)
{
    pop.timeout = 10;
    pop.read_ahead_until = read_ahead_until;
    return pop.open_connection("127.0.0.1", port.c_str(), nullptr, 0) > 0 && pop.login("u", "p") > 0;
}

using Commands = std::vector<std::string>;

}  // namespace

TEST(PopPipelining, MessagesAreAskedForAheadUpToTheLastWanted)
{
    PipelinePeer peer(true);
    PopClient pop;
    ASSERT_TRUE(connect_and_log_in(pop, peer.port(), 2));
    EXPECT_EQ(pop.pipelining, 1);
    for (int n = 1; n <= 3; ++n) {
        ASSERT_EQ(pop.retrieve(n), 1) << n;
        EXPECT_EQ(body(pop), "body " + std::to_string(n) + "\r\n" + (n == 2 ? ".not the end\r\n" : "")) << n;
    }
    pop.disconnect();
    EXPECT_EQ(peer.commands(), (Commands{"CAPA", "RETR 1", "RETR 2", "RETR 3", "QUIT"}));
}

TEST(PopPipelining, AnswersNobodyWantsAreReadPastBeforeTheNextCommand)
{
    PipelinePeer peer(true);
    PopClient pop;
    ASSERT_TRUE(connect_and_log_in(pop, peer.port(), 3));
    ASSERT_EQ(pop.retrieve(1), 1);
    // Messages 2 and 3 are on their way; the deletion must not take one of
    // them for its reply.
    EXPECT_EQ(pop.delete_message(1), 1);
    ASSERT_EQ(pop.retrieve(3), 1);
    EXPECT_EQ(body(pop), "body 3\r\n");
    EXPECT_EQ(pop.quit(), 1);
    EXPECT_EQ(peer.commands(), (Commands{"CAPA", "RETR 1", "RETR 2", "RETR 3", "DELE 1", "RETR 3", "QUIT"}));
}

TEST(PopPipelining, OneAtATimeWithoutTheCapabilityOrWithoutAReason)
{
    for (int until : {3, 0}) {
        PipelinePeer peer(until == 0);  // the second server offers it, but nobody asked
        PopClient pop;
        ASSERT_TRUE(connect_and_log_in(pop, peer.port(), until));
        for (int n = 1; n <= 3; ++n) ASSERT_EQ(pop.retrieve(n), 1);
        pop.disconnect();
        Commands expected{"RETR 1", "RETR 2", "RETR 3", "QUIT"};
        if (until) expected.insert(expected.begin(), "CAPA");
        EXPECT_EQ(peer.commands(), expected) << until;
    }
}

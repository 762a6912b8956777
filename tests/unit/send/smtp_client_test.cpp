// The SMTP transport against a scripted peer, for the replies a real server
// does not give on demand, and for the exact bytes sent.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "base/text_stream.h"
#include "engine/engine_main.h"
#include "engine/option_state.h"
#include "../../support/command.h"
#include "../../support/loopback_peer.h"

namespace {

// A small SMTP server that plays a script: reply(command) gives the reply
// for each command line ("" closes the connection); DATA is collected.
class ScriptedSmtp {
public:
    using Replies = std::function<std::string(const std::string& command, int transaction)>;

    explicit ScriptedSmtp(Replies replies, std::string greeting = "220 peer.test.example ESMTP\r\n")
        : peer_([this, replies, greeting](int s) { serve(s, replies, greeting); })
    {
    }
    std::string port() const { return peer_.port(); }
    // Waits for the conversation to end: what came after the client went
    // away is then in commands and messages too.
    void finish() { peer_.join(); }
    std::vector<std::string> commands;
    std::vector<std::string> messages;

private:
    static bool read_line(int s, std::string& line)
    {
        line.clear();
        char c;
        while (::recv(s, &c, 1, 0) == 1) {
            line.push_back(c);
            if (c == '\n') return true;
        }
        return false;
    }

    void serve(int s, const Replies& replies, const std::string& greeting)
    {
        LoopbackPeer::send_text(s, greeting);
        std::string line;
        int transaction = 0;
        while (read_line(s, line)) {
            std::string command = line.substr(0, line.find_last_not_of("\r\n") + 1);
            commands.push_back(command);
            if (command.rfind("MAIL FROM", 0) == 0) ++transaction;
            std::string answer = replies(command, transaction);
            if (answer.empty()) return;
            LoopbackPeer::send_text(s, answer);
            if (command == "DATA" && answer[0] == '3') {
                std::string data;
                while (read_line(s, line) && line != ".\r\n") data += line;
                messages.push_back(data);
                std::string after = replies(".", transaction);
                if (after.empty()) return;
                LoopbackPeer::send_text(s, after);
            }
            if (command == "QUIT") return;
        }
    }

    LoopbackPeer peer_;
};

// The usual answers of a server that takes everything.
std::string accept_all(const std::string& c, int)
{
    if (c.rfind("EHLO", 0) == 0) return "250-peer.test.example\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n";
    if (c.rfind("HELO", 0) == 0) return "250 peer.test.example\r\n";
    if (c == "DATA") return "354 go ahead\r\n";
    if (c == "QUIT") return "221 bye\r\n";
    return "250 ok\r\n";
}

using Result = CommandResult;

Result tavrin(const std::string& args)
{
    return run_command_line(std::string(TAVRIN_BINARY) + " " + args + " -tmo:10 < /dev/null");
}

std::string send_args(const std::string& port, const std::string& extra)
{
    return "-host:127.0.0.1 -port:" + port + " -from:me@test.example -s:hi " + extra;
}

size_t count_of(const std::vector<std::string>& v, const std::string& prefix)
{
    size_t n = 0;
    for (const std::string& s : v) n += s.rfind(prefix, 0) == 0;
    return n;
}

}  // namespace

TEST(SmtpPeer, RefusedEhloFallsBackToHeloAndLoginSaysWhy)
{
    ScriptedSmtp peer([](const std::string& c, int t) {
        return c.rfind("EHLO", 0) == 0 ? "502 not here\r\n" : accept_all(c, t);
    });
    Result r = tavrin(send_args(peer.port(), "-to:a@test.example -msg:x -user:joe -pass:pw"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Login failed: ESMTP not enabled\r\n\r\n");
    EXPECT_EQ(count_of(peer.commands, "HELO "), 1u);
    EXPECT_EQ(count_of(peer.commands, "AUTH"), 0u);
}

TEST(SmtpPeer, A452EndsTheTransactionAndTheRestGoInTheNext)
{
    int rcpts = 0;
    ScriptedSmtp peer([&rcpts](const std::string& c, int t) {
        if (c.rfind("RCPT", 0) == 0 && t == 1 && ++rcpts == 3) return std::string("452 4.5.3 Too many recipients\r\n");
        return accept_all(c, t);
    });
    Result r = tavrin(send_args(peer.port(), "-to:a@test.example,b@test.example,c@test.example,d@test.example -msg:x"));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> expected = {"MAIL FROM:<me@test.example>", "RCPT TO:<a@test.example>",
                                         "RCPT TO:<b@test.example>",    "RCPT TO:<c@test.example>",
                                         "DATA",                        "RSET",
                                         "MAIL FROM:<me@test.example>", "RCPT TO:<c@test.example>",
                                         "RCPT TO:<d@test.example>",    "DATA",
                                         "QUIT"};
    std::vector<std::string> got(peer.commands.begin() + 1, peer.commands.end());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(peer.messages.size(), 2u);
}

TEST(SmtpPeer, RecipientLimitSplitsIntoTransactions)
{
    ScriptedSmtp peer(accept_all);
    Result r = tavrin(send_args(peer.port(), "-limit:2 -to:a@x.example,b@x.example,c@x.example -cc:d@x.example "
                                             "-bcc:e@x.example -msg:x"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(peer.commands, "MAIL FROM"), 3u);
    EXPECT_EQ(count_of(peer.commands, "RSET"), 2u);
    EXPECT_EQ(count_of(peer.commands, "RCPT TO:<e@x.example>"), 1u);
    ASSERT_EQ(peer.messages.size(), 3u);
    EXPECT_EQ(peer.messages[0].find("Bcc"), std::string::npos);
    EXPECT_NE(peer.messages[0].find("Precedence: bulk\r\n"), std::string::npos);
}

TEST(SmtpPeer, TlsWithoutStarttlsSendsInTheClearAnd8BitMime)
{
    ScriptedSmtp peer(accept_all);
    Result r = tavrin(send_args(peer.port(), "-tls -8 -to:a@test.example -msg:x"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(peer.commands, "STARTTLS"), 0u);
    EXPECT_EQ(count_of(peer.commands, "MAIL FROM:<me@test.example> BODY=8BITMIME"), 1u);
}

TEST(SmtpPeer, ServerClosingDuringDataIsAFailure)
{
    ScriptedSmtp peer([](const std::string& c, int t) { return c == "." ? std::string() : accept_all(c, t); });
    Result r = tavrin(send_args(peer.port(), "-to:a@test.example -msg:x"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not send: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\r\nStatus: "), std::string::npos);
}

TEST(SmtpPeer, FirewallBannerBeforeTheGreeting)
{
    ScriptedSmtp peer(accept_all, "Welcome to the gateway\r\nplease wait\r\n220 peer ready\r\n");
    Result r = tavrin(send_args(peer.port(), "\"-firewall:open sesame\" -to:a@test.example -msg:x"));
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_FALSE(peer.commands.empty());
    EXPECT_EQ(peer.commands[0].rfind("open sesameEHLO ", 0), 0u);  // sent as it is, no line end of its own
    EXPECT_EQ(peer.messages.size(), 1u);
}

TEST(SmtpPeer, EveryLeadingDotIsDoubledAfterData)
{
    std::string dir = "/tmp/tavrin-dots-test";
    std::system(("mkdir -p " + dir + " && printf '.one\\n..two\\nthree\\n' > " + dir + "/dots.txt").c_str());
    ScriptedSmtp peer(accept_all);
    Result r = tavrin(send_args(peer.port(), "-qp:0 -to:a@test.example -file:" + dir + "/dots.txt -a:" + dir +
                                                 "/dots.txt"));
    std::system(("rm -rf " + dir).c_str());
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(peer.messages.size(), 1u);
    const std::string& m = peer.messages[0];
    // The text part of the multipart body, dot-stuffed, with CR LF lines.
    EXPECT_NE(m.find("Content-Transfer-Encoding: 7bit\r\n\r\n..one\r\n...two\r\nthree\r\n"), std::string::npos) << m;
    // The attachment is text: sent as text, dot-stuffed too.
    EXPECT_NE(m.find("filename=\"dots.txt\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n..one\r\n...two\r\n"),
              std::string::npos);
    // No line of the data is a lone "." or starts with a single '.'.
    size_t at = 0;
    while ((at = m.find("\n.", at)) != std::string::npos) {
        EXPECT_EQ(m[at + 2], '.') << m.substr(at, 20);
        ++at;
    }
}

TEST(SmtpPeer, UuencodedLinesEndWithCrLf)
{
    std::string dir = "/tmp/tavrin-uu-smtp-test";
    std::system(("mkdir -p " + dir + " && head -c 200 /dev/zero > " + dir + "/zeros.bin").c_str());
    ScriptedSmtp peer(accept_all);
    Result r = tavrin(send_args(peer.port(), "-to:a@test.example -msg:x -uue -a:" + dir + "/zeros.bin"));
    std::system(("rm -rf " + dir).c_str());
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(peer.messages.size(), 1u);
    const std::string& m = peer.messages[0];
    size_t begin = m.find("begin 644 zeros.bin");
    ASSERT_NE(begin, std::string::npos);
    EXPECT_EQ(m.substr(begin, 21), "begin 644 zeros.bin\r\n");
    EXPECT_NE(m.find("`\r\nend\r\n", begin), std::string::npos);
}

TEST(SmtpPeer, ProbeSendsNoData)
{
    ScriptedSmtp peer(accept_all);
    // A domain of digits and dots is the mail host itself: no DNS query.
    Result r = tavrin("-port:" + peer.port() + " -probe:a@127.0.0.1");
    EXPECT_EQ(count_of(peer.commands, "RCPT TO:<a@127.0.0.1>"), 1u);
    EXPECT_EQ(count_of(peer.commands, "DATA"), 0u);
}

TEST(SmtpPeer, RefusedRecipientEndsTheSendUnlessToldToGoOn)
{
    auto refuse_b = [](const std::string& c, int t) {
        return c == "RCPT TO:<b@test.example>" ? std::string("550 5.1.1 no such user\r\n") : accept_all(c, t);
    };
    {
        ScriptedSmtp peer(refuse_b);
        Result r = tavrin(send_args(peer.port(), "-to:b@test.example,c@test.example -msg:x"));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Status: 550 5.1.1 no such user"), std::string::npos) << r.err;
        EXPECT_TRUE(peer.messages.empty());
    }
    ScriptedSmtp peer(refuse_b);
    Result r = tavrin(send_args(peer.port(), "-ns -to:b@test.example,c@test.example -msg:x"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(peer.messages.size(), 1u);
}

namespace {

std::string write_temp(const std::string& name, const std::string& text)
{
    std::string path = "/tmp/tavrin-msgfile-" + name;
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    return path;
}

}  // namespace

TEST(MessageFile, ImportSendsEachDescriptionAndChecksThem)
{
    std::string file = write_temp("import.txt",
                                  "From: me@test.example\nTo: a@test.example\nSubject: first\nImportance: low\n"
                                  "Contents:\nbody one\nMessage:\n"
                                  "From: me@test.example\nTo: b@test.example, c@test.example\nSubject: second\n"
                                  "Contents:\nbody two\nMessage:\n"
                                  "From: me@test.example\nTo: d@test.example\nSubject: no body\n");
    ScriptedSmtp peer(accept_all);
    Result r = tavrin("-host:127.0.0.1 -port:" + peer.port() + " -import -file:" + file);
    EXPECT_EQ(r.status, 1) << r.err;  // one description failed its checks: the run did not do all it was asked
    EXPECT_NE(r.out.find("GOT [21]: 'From: me@test.example'\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "Missing message body, line: 16\r\n");  // the last line of the file ended it
    ASSERT_EQ(peer.messages.size(), 2u);
    EXPECT_NE(peer.messages[0].find("Subject: first\r\n"), std::string::npos);
    EXPECT_NE(peer.messages[0].find("X-Priority: 4 (Low)\r\n"), std::string::npos);
    EXPECT_NE(peer.messages[1].find("body two"), std::string::npos);
    EXPECT_EQ(count_of(peer.commands, "RCPT TO:<c@test.example>"), 1u);
    std::remove(file.c_str());
}

TEST(MessageFile, CommandLineRecipientsOverrideTheDescriptions)
{
    std::string file = write_temp("override.txt",
                                  "From: me@test.example\nTo: a@test.example\nCc: c@test.example\nContents:\nx\n");
    ScriptedSmtp peer(accept_all);
    Result r = tavrin("-host:127.0.0.1 -port:" + peer.port() + " -import -to:z@test.example -file:" + file);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(peer.commands, "RCPT TO:<z@test.example>"), 1u);
    EXPECT_EQ(count_of(peer.commands, "RCPT TO:<a@test.example>"), 0u);
    EXPECT_EQ(count_of(peer.commands, "RCPT TO:<c@test.example>"), 0u);
    std::remove(file.c_str());
}

TEST(MessageFile, RelayTakesTheEnvelopeFromTheHeader)
{
    std::string message = "From: me@test.example\nTo: a@test.example,\n\tb@test.example\nCc: c@test.example\n"
                          "Subject: relayed\n\n.starts with a dot\nbody\n.\nafter the end\n";
    std::string file = write_temp("relay.txt", message);
    {
        ScriptedSmtp peer(accept_all);
        Result r = tavrin("-host:127.0.0.1 -port:" + peer.port() + " -t -file:" + file);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("GOT2: 'To: a@test.example,\tb@test.example'"), std::string::npos) << r.out;
        for (const char* rcpt : {"RCPT TO:<a@test.example>", "RCPT TO:<b@test.example>", "RCPT TO:<c@test.example>"})
            EXPECT_EQ(count_of(peer.commands, rcpt), 1u) << rcpt;
        ASSERT_EQ(peer.messages.size(), 1u);
        // Sent as it is (no headers of ours), whole and dot-stuffed: a "." line
        // of the input is text, not the end.
        EXPECT_EQ(peer.messages[0].rfind("From: me@test.example\r\nTo: a@test.example,\r\n\tb@test.example\r\n", 0), 0u)
            << peer.messages[0];
        EXPECT_NE(peer.messages[0].find("\r\n\r\n..starts with a dot\r\nbody\r\n..\r\nafter the end\r\n"),
                  std::string::npos)
            << peer.messages[0];
    }
    ScriptedSmtp peer(accept_all);
    Result r = tavrin("-host:127.0.0.1 -port:" + peer.port() + " -relay:127.0.0.1 -file:" + file);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(peer.commands, "RCPT TO:<c@test.example>"), 0u);  // "-relay" leaves Cc out
    std::remove(file.c_str());
}

TEST(SmtpPeer, ProgressFileHoldsAPercentage)
{
    std::string meter = "/tmp/tavrin-meter-" + std::to_string(getpid());
    ScriptedSmtp peer(accept_all);
    Result r = tavrin(send_args(peer.port(), "-meter:" + meter + " -to:a@test.example -msg:x"));
    ASSERT_EQ(r.status, 0) << r.err;
    FILE* f = fopen(meter.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char text[16] = "";
    size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    std::remove(meter.c_str());
    std::string content(text, n);
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
    int percent = std::atoi(content.c_str());
    EXPECT_TRUE(percent >= 0 && percent <= 100) << content;
}

// Hostile replies: a reply that never ends and a line longer than the reply
// buffer are bounded, and a bare CR in relayed text never reaches the wire.
TEST(SmtpPeer, AReplyOfEndlessLinesIsRefused)
{
    std::string endless;
    for (int i = 0; i < 200000; ++i) endless += "250-more\r\n";
    ScriptedSmtp peer([&endless](const std::string& c, int t) {
        return c.rfind("EHLO", 0) == 0 ? endless + "250 done\r\n" : accept_all(c, t);
    });
    Result r = tavrin(send_args(peer.port(), "-to:a@test.example -msg:x"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("reply longer than 1000 lines"), std::string::npos) << r.err;
    EXPECT_TRUE(peer.messages.empty());
}

TEST(SmtpPeer, TheRestOfAnOverlongReplyLineIsNotTheNextReply)
{
    ScriptedSmtp peer(accept_all, "220 " + std::string(5000, 'x') + "\r\n");
    Result r = tavrin(send_args(peer.port(), "-to:a@test.example -msg:x"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(peer.commands, "HELO"), 0u);  // the EHLO reply was read as the EHLO reply
    EXPECT_EQ(peer.messages.size(), 1u);
}

TEST(SmtpPeer, RelayedBareCarriageReturnsBecomeLineEnds)
{
    std::string file = "/tmp/tavrin-bare-cr-" + std::to_string(getpid());
    {
        FILE* f = fopen(file.c_str(), "wb");
        const char text[] = "From: me@test.example\nTo: a@test.example\nSubject: cr\n\nbefore\r.\rafter\rend\n";
        fwrite(text, 1, sizeof text - 1, f);
        fclose(f);
    }
    ScriptedSmtp peer(accept_all);
    Result r = tavrin("-host:127.0.0.1 -port:" + peer.port() + " -t -file:" + file);
    std::remove(file.c_str());
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(peer.messages.size(), 1u);
    const std::string& m = peer.messages[0];
    EXPECT_NE(m.find("\r\n\r\nbefore\r\n..\r\nafter\r\nend\r\n"), std::string::npos) << m;
    for (size_t i = 0; i < m.size(); ++i) {
        if (m[i] == '\r') {
            EXPECT_EQ(m[i + 1], '\n') << "bare CR at " << i;
        }
        if (m[i] == '\n') {
            EXPECT_EQ(m[i - 1], '\r') << "bare LF at " << i;
        }
    }
}

// The EHLO name a script sets is used by every later call of the loaded
// library, not only by the first one.
TEST(SmtpPeer, TheScriptsGreetingNameHoldsForEachCall)
{
    for (const char* name : {"first.test.example", "second.test.example"}) {
        process_state().kextra_greeting = name;
        ScriptedSmtp peer(accept_all);
        std::string port = "-port:" + peer.port();
        const char* argv[] = {"tavrin", "-host:127.0.0.1", port.c_str(), "-from:me@test.example",
                              "-to:a@test.example", "-s:hi", "-msg:x", "-q"};
        EXPECT_EQ(engine_main(8, argv), 0) << error_stream.contents();
        EXPECT_EQ(count_of(peer.commands, std::string("EHLO ") + name), 1u) << name;
    }
    process_state().kextra_greeting.clear();
}

// A failure of our own in the middle of DATA (an attachment that cannot be
// read) ends the connection: no later command may land in the message.
TEST(SmtpPeer, AFailureInsideDataEndsTheConnection)
{
    std::string file = write_temp("inside-data.txt",
                                  "From: me@test.example\nTo: a@test.example\nFile Item: /proc/self/mem\n"
                                  "Contents:\nfirst\nMessage:\n"
                                  "From: me@test.example\nTo: b@test.example\nContents:\nsecond\n");
    ScriptedSmtp peer(accept_all);
    Result r = tavrin("-host:127.0.0.1 -port:" + peer.port() + " -import -file:" + file);
    std::remove(file.c_str());
    peer.finish();  // the message ends when the client closes
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Status: cannot read /proc/self/mem"), std::string::npos) << r.err;
    EXPECT_EQ(count_of(peer.commands, "DATA"), 1u);
    EXPECT_EQ(count_of(peer.commands, "RSET"), 0u);
    // What the peer got after DATA is part of the first message only.
    ASSERT_EQ(peer.messages.size(), 1u);
    EXPECT_EQ(peer.messages[0].find("RSET"), std::string::npos);
    EXPECT_EQ(peer.messages[0].find("QUIT"), std::string::npos);
    EXPECT_EQ(peer.messages[0].find("second"), std::string::npos);
}

// A peer that takes DATA and then reads no more: the send is bounded by the
// time-out instead of waiting for ever.
TEST(SmtpPeer, APeerThatStopsReadingTimesTheSendOut)
{
    std::string file = write_temp("large-body.txt", std::string(30 << 20, 'x') + "\n");
    std::atomic<bool> done{false};
    LoopbackPeer peer([&done](int s) {
        LoopbackPeer::send_text(s, "220 peer\r\n");
        std::string pending;
        char c;
        while (::recv(s, &c, 1, 0) == 1) {
            pending += c;
            if (c != '\n') continue;
            bool data = pending.rfind("DATA", 0) == 0;
            LoopbackPeer::send_text(s, data ? "354 go\r\n" : "250 ok\r\n");
            pending.clear();
            if (data) break;
        }
        for (int i = 0; i < 600 && !done; ++i) LoopbackPeer::pause_ms(50);  // reads nothing more, for 30 s
    });
    Result r = run_command_line("timeout 25 " + std::string(TAVRIN_BINARY) + " " +
                                send_args(peer.port(), "-to:a@test.example -tmo:2 -file:" + file) + " < /dev/null");
    done = true;
    std::remove(file.c_str());
    EXPECT_EQ(r.status, 1) << r.err;  // 124 is the outer time-out: the send hung
    EXPECT_NE(r.err.find("Could not send: "), std::string::npos) << r.err;
}

TEST(SmtpPeer, ALineEndInAnAddressNeverStartsACommand)
{
    ScriptedSmtp peer(accept_all);
    Result r = tavrin(send_args(peer.port(), "\"-to:<x@test.example$(printf '\\nDATA')>\" -msg:x"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a value in the command holds a line end"), std::string::npos) << r.err;
    EXPECT_EQ(count_of(peer.commands, "DATA"), 0u);
    EXPECT_TRUE(peer.messages.empty());
}

// Half a reply, cut by the peer going quiet, is no reply.
TEST(SmtpPeer, AReplyWithoutItsLineEndIsAFailure)
{
    ScriptedSmtp peer([](const std::string& c, int t) { return c == "." ? std::string("2") : accept_all(c, t); });
    Result r = run_command_line(std::string(TAVRIN_BINARY) + " " + send_args(peer.port(), "-to:a@test.example -msg:x") +
                                " -tmo:2 < /dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("Sent "), std::string::npos) << r.out;
}

// After a refusal no credentials follow: they would be a command line.
TEST(SmtpPeer, CredentialsGoOnlyToAServerThatAskedForThem)
{
    ScriptedSmtp peer([](const std::string& c, int t) {
        if (c.rfind("EHLO", 0) == 0) return std::string("250-peer\r\n250 AUTH PLAIN CRAM-MD5\r\n");
        if (c.rfind("AUTH", 0) == 0) return std::string("535 5.7.8 no\r\n");
        return accept_all(c, t);
    });
    Result r = tavrin(send_args(peer.port(), "-to:a@test.example -msg:x -user:u -pass:p -crammd5"));
    EXPECT_EQ(r.status, 1);
    for (const std::string& c : peer.commands) {
        EXPECT_NE(c, "AHUAcA==");  // NUL u NUL p
        EXPECT_EQ(c.find("dSA"), std::string::npos) << c;  // "u " and a digest
    }
    EXPECT_EQ(count_of(peer.commands, "AUTH PLAIN"), 1u);
}

// A proxy that refuses the tunnel and then speaks for the server itself
// gets no mail.
TEST(SmtpPeer, ATunnelTheProxyRefusedIsNotUsed)
{
    std::vector<std::string> heard;
    LoopbackPeer proxy([&heard](int s) {
        std::string line;
        char c;
        while (::recv(s, &c, 1, 0) == 1) {
            line += c;
            if (c != '\n') continue;
            heard.push_back(line);
            if (line == "\r\n") break;
            line.clear();
        }
        LoopbackPeer::send_text(s, "HTTP/1.0 403 Forbidden\r\n\r\n220 not the server\r\n");
        line.clear();
        while (::recv(s, &c, 1, 0) == 1) {
            line += c;
            if (c == '\n') {
                heard.push_back(line);
                LoopbackPeer::send_text(s, "250 ok\r\n");
                line.clear();
            }
        }
    });
    Result r = tavrin("-host:mail.test.example -tunnel:127.0.0.1:" + proxy.port() +
                      " -from:me@test.example -to:a@test.example -s:hi -msg:x");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Status: HTTP/1.0 403 Forbidden"), std::string::npos) << r.err;
    for (const std::string& l : heard) EXPECT_NE(l.rfind("EHLO", 0), 0u) << l;
}

// Relay from standard input: bytes as they are (a NUL too), headers folded
// with a blank joined, and the Bcc line that gave a recipient not shown.
TEST(SmtpPeer, RelayFromStandardInputKeepsEveryByteAndHidesBcc)
{
    using namespace std::string_literals;
    std::string input = "From: me@test.example\nTo: a@test.example,\n b@test.example\n"s +
                        "Bcc: hidden@test.example\nSubject: nul\0here\n\nline\0one\n.\nend\n"s;
    std::string file = write_temp("relay-stdin.txt", input);
    ScriptedSmtp peer(accept_all);
    Result r = run_command_line(std::string(TAVRIN_BINARY) + " -host:127.0.0.1 -port:" + peer.port() +
                                " -t -tmo:10 < " + file);
    std::remove(file.c_str());
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* rcpt : {"RCPT TO:<a@test.example>", "RCPT TO:<b@test.example>", "RCPT TO:<hidden@test.example>"})
        EXPECT_EQ(count_of(peer.commands, rcpt), 1u) << rcpt;
    ASSERT_EQ(peer.messages.size(), 1u);
    const std::string& m = peer.messages[0];
    EXPECT_EQ(m.find("Bcc:"), std::string::npos) << m;
    EXPECT_NE(m.find("Subject: nul\0here\r\n"s), std::string::npos) << m;
    EXPECT_NE(m.find("line\0one\r\n..\r\nend\r\n"s), std::string::npos) << m;
}

// The POP3 reader and the receive driver against scripted peers, for what a
// real server does not do on demand: refused CAPA, STLS and APOP, odd LIST
// answers, connections that drop in the middle of a message, and a hostile
// peer. Every command a peer gets is kept, so a test can say which DELE
// lines were sent and which were not.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/text_stream.h"
#include "net/ssl_sock.h"
#include "retrieve/read_mail.h"
#include "../../support/command.h"
#include "../../support/file_text.h"
#include "../../support/loopback_peer.h"
#include "../../support/tls_peer.h"

namespace {

// The longest a peer waits for the client; a client that misbehaves fails
// its test instead of hanging it.
constexpr int peer_bound_seconds = 20;

void bound_reads(int s)
{
    timeval tv{peer_bound_seconds, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// One command line from the client, without its line end; false when the
// client closed (or the bound ran out).
bool read_command(int s, std::string& line)
{
    line.clear();
    char c;
    while (::recv(s, &c, 1, 0) == 1) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        line.push_back(c);
    }
    return false;
}

// Sends pieces from next() until a send fails (the client has gone) or
// most bytes were sent: an endless answer for a reader that must stop.
void send_endless(int s, const std::function<std::string()>& next, size_t most = size_t(256) << 20)
{
    for (size_t sent = 0; sent < most;) {
        std::string piece = next();
        ssize_t n = ::send(s, piece.data(), piece.size(), MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

// A POP3 server on 127.0.0.1 that answers each command line with what
// answer(command) gives, then goes on, closes, or holds the connection
// (reads on without answering until the client closes).
class ScriptedPop {
public:
    enum class Then { go_on, close, hold };
    struct Answer {
        std::string text;
        Then then = Then::go_on;
    };
    using Answers = std::function<Answer(const std::string& command)>;

    explicit ScriptedPop(Answers answers, std::string greeting = "+OK ready\r\n")
        : peer_(new LoopbackPeer([this, answers, greeting](int s) { serve(s, answers, greeting); }))
    {
    }
    std::string port() const { return peer_->port(); }
    // What the peer got, once it has ended (the client has closed).
    const std::vector<std::string>& commands()
    {
        peer_.reset();
        return commands_;
    }

private:
    void serve(int s, const Answers& answers, const std::string& greeting)
    {
        bound_reads(s);
        LoopbackPeer::send_text(s, greeting);
        std::string line;
        while (read_command(s, line)) {
            commands_.push_back(line);
            Answer a = answers(line);
            LoopbackPeer::send_text(s, a.text);
            if (a.then == Then::close) return;
            if (a.then == Then::hold) {
                while (read_command(s, line)) commands_.push_back(line);
                return;
            }
        }
    }

    std::vector<std::string> commands_;
    std::unique_ptr<LoopbackPeer> peer_;  // last: its thread ends before commands_ goes
};

using Answer = ScriptedPop::Answer;
using Then = ScriptedPop::Then;

bool starts(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string message(const std::string& subject, const std::string& body,
                    const std::string& from = "Ann <ann@test.example>")
{
    return "From: " + from + "\r\nTo: joe@test.example\r\nSubject: " + subject +
           "\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n\r\n" + body;
}

// The message as RETR sends it: leading dots doubled, the "." line after.
std::string transfer(const std::string& m)
{
    std::string out;
    size_t at = 0;
    while (at < m.size()) {
        size_t end = m.find('\n', at);
        end = end == std::string::npos ? m.size() : end + 1;
        if (m[at] == '.') out += '.';
        out.append(m, at, end - at);
        at = end;
    }
    return out + ".\r\n";
}

// The header and the first k body lines, as TOP n k sends them.
std::string top_of(const std::string& m, int k)
{
    size_t end = m.find("\r\n\r\n");
    end = end == std::string::npos ? m.size() : end + 4;
    for (int i = 0; i < k && end < m.size(); ++i) {
        size_t next = m.find("\r\n", end);
        end = next == std::string::npos ? m.size() : next + 2;
    }
    return m.substr(0, end);
}

// What a plain server with these messages answers. CAPA is not known to it.
Answer mailbox(const std::vector<std::string>& messages, const std::string& c)
{
    size_t total = 0;
    for (const std::string& m : messages) total += m.size();
    int n = 0, k = 0;
    bool numbered = std::sscanf(c.c_str(), "%*s %d %d", &n, &k) >= 1;
    bool valid = numbered && n >= 1 && n <= static_cast<int>(messages.size());
    if (c == "STAT") return {"+OK " + std::to_string(messages.size()) + " " + std::to_string(total) + "\r\n"};
    if (c == "LIST") {
        std::string list = "+OK scan listing follows\r\n";
        for (size_t i = 0; i < messages.size(); ++i)
            list += std::to_string(i + 1) + " " + std::to_string(messages[i].size()) + "\r\n";
        return {list + ".\r\n"};
    }
    if (starts(c, "RETR ")) return {valid ? "+OK\r\n" + transfer(messages[n - 1]) : "-ERR no such message\r\n"};
    if (starts(c, "TOP ")) return {valid ? "+OK\r\n" + transfer(top_of(messages[n - 1], k)) : "-ERR no such message\r\n"};
    if (starts(c, "DELE ")) return {valid ? "+OK deleted\r\n" : "-ERR no such message\r\n"};
    if (c == "QUIT") return {"+OK bye\r\n", Then::close};
    if (c == "CAPA") return {"-ERR unknown command\r\n"};
    return {"+OK\r\n"};
}

ScriptedPop::Answers serving(std::vector<std::string> messages)
{
    return [messages](const std::string& c) { return mailbox(messages, c); };
}

size_t count_of(const std::vector<std::string>& v, const std::string& prefix)
{
    size_t n = 0;
    for (const std::string& s : v) n += starts(s, prefix.c_str());
    return n;
}

std::vector<std::string> deletions(const std::vector<std::string>& commands)
{
    std::vector<std::string> out;
    for (const std::string& c : commands)
        if (starts(c, "DELE")) out.push_back(c);
    return out;
}

std::string joined(const std::vector<std::string>& v)
{
    std::string out;
    for (const std::string& s : v) out += s + " | ";
    return out;
}

// The lower-case MD5 hex of text, by OpenSSL (not by our own digests).
std::string md5_hex(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

// A reader for a peer on 127.0.0.1, with a bound on every wait.
int open_reader(PopClient& c, const std::string& port, int starttls = 0)
{
    c.timeout = 10;
    c.use_starttls = starttls;
    return c.open_connection("127.0.0.1", port.c_str(), nullptr, 0);
}

CommandResult tavrin(const std::string& port, const std::string& args, const std::string& input = "/dev/null")
{
    return run_command_line(std::string(TAVRIN_BINARY) + " -host:127.0.0.1 -port:" + port +
                            " -user:joe -pass:secret -tmo:10 " + args + " < " + input);
}

// Runs of the program keep their files in a folder of their own.
class PopRun : public testing::Test {
protected:
    void SetUp() override
    {
        char t[] = "/tmp/tavrin-pop-XXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        dir = t;
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    std::string dir;
};

const std::string first_text = message("first one", "Line one of the first.\r\n.starts with a dot\r\nlast line\r\n");
const std::string second_text = message("second one", "The second body.\r\n");
const std::string third_text = message("third one", "The third body.\r\n");

std::string with_attachment()
{
    return "From: ann@test.example\r\nTo: joe@test.example\r\nSubject: with a part\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
           "--b1\r\nContent-Type: text/plain\r\n\r\nsee the file\r\n"
           "--b1\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
           "Content-Disposition: attachment; filename=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
           "AAECAwQF\r\n--b1--\r\n";
}

}  // namespace

// ---- CAPA and STLS ----

TEST(PopClient, CapaWithoutStlsGoesOnInClearText)
{
    struct Case {
        const char* name;
        std::string capa;  // the answer to CAPA
    } cases[] = {
        {"refused", "-ERR unknown command\r\n"},
        {"no STLS", "+OK capability list follows\r\nUSER\r\nTOP\r\nX-STLS\r\n.\r\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ScriptedPop peer([&k](const std::string& c) {
            return c == "CAPA" ? Answer{k.capa} : mailbox({first_text}, c);
        });
        {
            PopClient c;
            EXPECT_GT(open_reader(c, peer.port(), 1), 0);
            EXPECT_EQ(c.stls_offered, 0);
            // The next reply is read as the USER reply: nothing of the CAPA answer is left over.
            EXPECT_GT(c.login("joe", "secret"), 0) << c.reply;
            EXPECT_EQ(c.get_message_count(), 1);
            EXPECT_EQ(c.retrieve(1), 1);
            EXPECT_NE(std::string(c.text()).find("last line"), std::string::npos);
        }
        std::vector<std::string> expected = {"CAPA", "USER joe", "PASS secret", "STAT", "LIST", "RETR 1", "QUIT"};
        EXPECT_EQ(peer.commands(), expected);
    }
}

TEST_F(PopRun, RefusedCapaWithTlsRetrievesInClearText)
{
    ScriptedPop peer(serving({first_text}));
    CommandResult r = tavrin(peer.port(), "-tls");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1. first one\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(count_of(peer.commands(), "STLS"), 0u);
    EXPECT_EQ(count_of(peer.commands(), "RETR 1"), 1u);
}

// STLS offered: it is sent, TLS starts, the capabilities are asked again,
// and the credentials go only inside TLS.
TEST(PopClient, StlsStartsTlsBeforeTheCredentials)
{
    release_tls_context();
    std::vector<std::string> clear, inside;
    TlsPeer peer(
        [&inside](TlsPeer::Session& s) {
            for (std::string line = s.read_line(); !line.empty(); line = s.read_line()) {
                inside.push_back(line.substr(0, line.find_last_not_of("\r\n") + 1));
                const std::string& c = inside.back();
                if (c == "CAPA") s.write("+OK\r\nUSER\r\n.\r\n");
                else if (c == "STAT") s.write("+OK 0 0\r\n");
                else if (c == "QUIT") return (void)s.write("+OK bye\r\n");
                else s.write("+OK\r\n");
            }
        },
        0, "+OK ready\r\n",
        [&clear](int s) {
            bound_reads(s);
            std::string line;
            if (!read_command(s, line)) return false;
            clear.push_back(line);
            LoopbackPeer::send_text(s, "+OK\r\nSASL PLAIN\r\nSTLS\r\n.\r\n");
            if (!read_command(s, line)) return false;
            clear.push_back(line);
            LoopbackPeer::send_text(s, "+OK begin TLS\r\n");
            return line == "STLS";
        });
    {
        PopClient c;
        ASSERT_GT(open_reader(c, peer.port(), 1), 0) << error_stream.contents();
        EXPECT_NE(c.ssl, nullptr);
        EXPECT_GT(c.login("joe", "secret"), 0) << c.reply;
    }
    peer.join();
    EXPECT_TRUE(peer.handshake_done());
    EXPECT_EQ(clear, (std::vector<std::string>{"CAPA", "STLS"}));
    EXPECT_EQ(inside, (std::vector<std::string>{"CAPA", "USER joe", "PASS secret", "STAT", "QUIT"}));
    release_tls_context();
}

// A refused STLS, and one whose "+OK" comes with lines that would be read
// as if they had come through TLS: no connection, no credentials.
TEST_F(PopRun, StlsThatDoesNotStartTlsFailsTheConnection)
{
    for (const char* stls : {"-ERR not now\r\n", "+OK begin TLS\r\n+OK 1 100\r\n"}) {
        SCOPED_TRACE(stls);
        ScriptedPop peer([stls](const std::string& c) {
            if (c == "CAPA") return Answer{"+OK\r\nSTLS\r\n.\r\n"};
            if (c == "STLS") return Answer{stls};
            return mailbox({first_text}, c);
        });
        CommandResult r = tavrin(peer.port(), "-tls");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Could not connect to: 127.0.0.1:" + peer.port()), std::string::npos) << r.err;
        const std::vector<std::string>& got = peer.commands();
        EXPECT_EQ(count_of(got, "STLS"), 1u);
        EXPECT_EQ(count_of(got, "USER"), 0u);
        EXPECT_EQ(count_of(got, "PASS"), 0u);
    }
}

// ---- APOP ----

TEST(PopClient, ApopDigestAndItsFallbacks)
{
    const std::string stamp = "<1896.697170952@dbc.mil>";
    const std::string apop = "APOP joe " + md5_hex(stamp + "tanstaaf");
    const std::string long_stamp = "<" + std::string(254, 's') + "@h>";  // 256 between the brackets
    const std::string longest = "<" + std::string(253, 's') + "@h>";    // 255
    struct Case {
        const char* name;
        std::string greeting;
        bool apop_accepted;
        std::vector<std::string> expected;
    } cases[] = {
        {"accepted", "+OK POP3 server ready " + stamp + "\r\n", true, {apop, "STAT"}},
        {"refused, then USER and PASS", "+OK ready " + stamp + "\r\n", false,
         {apop, "USER joe", "PASS tanstaaf", "STAT"}},
        {"no time stamp", "+OK ready\r\n", true, {"USER joe", "PASS tanstaaf", "STAT"}},
        {"'<' without '>'", "+OK ready <1896.697170952@dbc.mil\r\n", true, {"USER joe", "PASS tanstaaf", "STAT"}},
        {"empty brackets", "+OK ready <>\r\n", true, {"USER joe", "PASS tanstaaf", "STAT"}},
        {"255 characters", "+OK " + longest + "\r\n", true, {"APOP joe " + md5_hex(longest + "tanstaaf"), "STAT"}},
        {"256 characters", "+OK " + long_stamp + "\r\n", true, {"USER joe", "PASS tanstaaf", "STAT"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        bool accepted = k.apop_accepted;
        ScriptedPop peer(
            [accepted](const std::string& c) {
                if (starts(c, "APOP")) return Answer{accepted ? "+OK maildrop locked\r\n" : "-ERR permission denied\r\n"};
                if (c == "STAT") return Answer{"+OK 0 0\r\n"};
                return mailbox({}, c);
            },
            k.greeting);
        {
            PopClient c;
            c.challenge_auth = 1;
            ASSERT_GT(open_reader(c, peer.port()), 0);
            EXPECT_GT(c.login("joe", "tanstaaf"), 0) << c.reply;
        }
        std::vector<std::string> got = peer.commands();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back(), "QUIT");
        got.pop_back();
        EXPECT_EQ(got, k.expected) << joined(got);
    }
}

TEST_F(PopRun, ApopThroughTheProgram)
{
    const std::string stamp = "<4711.1@pop.test.example>";
    ScriptedPop peer(serving({first_text}), "+OK hello " + stamp + "\r\n");
    CommandResult r = tavrin(peer.port(), "-apop");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string>& got = peer.commands();
    EXPECT_EQ(count_of(got, "APOP joe " + md5_hex(stamp + "secret")), 1u) << joined(got);
    EXPECT_EQ(count_of(got, "PASS"), 0u);
}

// ---- STAT and LIST ----

TEST(PopClient, ListSizesAsTheServerGaveThem)
{
    const std::string unlisted = message("not listed", "It is still read to its end.\r\n");
    ScriptedPop peer([&unlisted](const std::string& c) {
        if (c == "STAT") return Answer{"+OK 3 1300\r\n"};
        // 2 is missing, 7 is out of range, 3 comes before 1.
        if (c == "LIST") return Answer{"+OK\r\n3 300\r\n1 100\r\n7 900\r\n.\r\n"};
        if (c == "RETR 2") return Answer{"+OK\r\n" + transfer(unlisted)};
        return mailbox({}, c);
    });
    {
        PopClient c;
        ASSERT_GT(open_reader(c, peer.port()), 0);
        ASSERT_GT(c.login("joe", "pw"), 0);
        EXPECT_EQ(c.get_message_count(), 3);
        EXPECT_EQ(c.body_length, 1300u);  // the out-of-range size counts too
        EXPECT_EQ(c.message_size(1), 100);
        EXPECT_EQ(c.message_size(2), 0);
        EXPECT_EQ(c.message_size(3), 300);
        EXPECT_EQ(c.message_size(7), 0);
        ASSERT_EQ(c.retrieve(2), 1);
        EXPECT_EQ(c.subject_or_default(), "not listed");
        EXPECT_EQ(std::string(c.text()), "It is still read to its end.\r\n");
    }
    EXPECT_EQ(count_of(peer.commands(), "RETR 2"), 1u);
}

TEST_F(PopRun, SummaryCountsEveryListedSize)
{
    ScriptedPop peer([](const std::string& c) {
        if (c == "STAT") return Answer{"+OK 1 50\r\n"};
        if (c == "LIST") return Answer{"+OK\r\n1 50\r\n2 1200\r\n.\r\n"};
        return mailbox({first_text}, c);
    });
    CommandResult r = tavrin(peer.port(), "-br");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("There are 1 messages waiting (1250 bytes)\r\n", 0), 0u) << r.out;
}

TEST(PopClient, EmptyMailboxSendsNoList)
{
    ScriptedPop peer(serving({}));
    {
        PopClient c;
        ASSERT_GT(open_reader(c, peer.port()), 0);
        EXPECT_GT(c.login("joe", "pw"), 0);
        EXPECT_EQ(c.get_message_count(), 0);
        EXPECT_EQ(c.retrieve(1), -1);
    }
    std::vector<std::string> expected = {"USER joe", "PASS pw", "STAT", "QUIT"};
    EXPECT_EQ(peer.commands(), expected);
}

TEST(PopClient, NumbersOutsideTheMailboxSendNothing)
{
    ScriptedPop peer(serving({first_text, second_text}));
    {
        PopClient c;
        ASSERT_GT(open_reader(c, peer.port()), 0);
        ASSERT_GT(c.login("joe", "pw"), 0);
        for (int n : {0, -1, 3, 2147483647}) {
            EXPECT_EQ(c.retrieve(n), -1) << n;
            EXPECT_EQ(c.delete_message(n), -1) << n;
        }
        EXPECT_TRUE(c.connected());
    }
    std::vector<std::string> expected = {"USER joe", "PASS pw", "STAT", "LIST", "QUIT"};
    EXPECT_EQ(peer.commands(), expected);
}

TEST(PopClient, TopModeAsksForTheHeaderAndOneLine)
{
    ScriptedPop peer(serving({first_text}));
    {
        PopClient c;
        ASSERT_GT(open_reader(c, peer.port()), 0);
        ASSERT_GT(c.login("joe", "pw"), 0);
        c.retrieve_mode = 1;
        ASSERT_EQ(c.retrieve(1), 1);
        EXPECT_EQ(c.subject_or_default(), "first one");
        EXPECT_EQ(std::string(c.text()).find("last line"), std::string::npos);
    }
    EXPECT_EQ(count_of(peer.commands(), "TOP 1 1"), 1u);
    EXPECT_EQ(count_of(peer.commands(), "RETR"), 0u);
}

TEST_F(PopRun, BriefSendsTop)
{
    ScriptedPop peer(serving({first_text, second_text}));
    CommandResult r = tavrin(peer.port(), "-br");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("2. second one\r\n"), std::string::npos) << r.out;
    const std::vector<std::string>& got = peer.commands();
    EXPECT_EQ(count_of(got, "TOP 1 1"), 1u);
    EXPECT_EQ(count_of(got, "TOP 2 1"), 1u);
    EXPECT_EQ(count_of(got, "RETR"), 0u);
}

// ---- Retrieval that fails, and what is deleted ----

// The peer drops the connection half-way through message `drop`.
ScriptedPop::Answers dropping_at(std::vector<std::string> messages, int drop)
{
    return [messages, drop](const std::string& c) {
        int n = 0;
        if ((starts(c, "RETR ") || starts(c, "TOP ")) && std::sscanf(c.c_str(), "%*s %d", &n) == 1 && n == drop) {
            const std::string& m = messages[static_cast<size_t>(n - 1)];
            return Answer{"+OK\r\n" + m.substr(0, m.size() / 2), Then::close};
        }
        return mailbox(messages, c);
    };
}

TEST_F(PopRun, ADropDuringTheFirstMessageDeletesNothing)
{
    for (const char* extra : {"", " -rm -file:", " -rm -pat:*"}) {
        SCOPED_TRACE(extra);
        std::string args = extra;
        if (args == " -rm -file:") args += dir + "/out.txt";
        ScriptedPop peer(dropping_at({first_text, second_text}, 1));
        CommandResult r = tavrin(peer.port(), args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Could not retrieve message (1/1), error= "), std::string::npos) << r.err;
        EXPECT_TRUE(deletions(peer.commands()).empty()) << joined(peer.commands());
    }
}

TEST_F(PopRun, ADropDuringALaterMessageKeepsWhatWasHandled)
{
    std::string out = dir + "/out.txt";
    ScriptedPop peer(dropping_at({first_text, second_text, third_text}, 2));
    CommandResult r = tavrin(peer.port(), "-rm -file:" + out);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not retrieve message (2/2)"), std::string::npos) << r.err;
    EXPECT_EQ(deletions(peer.commands()), std::vector<std::string>{"DELE 1"});
    std::string file = slurp(out);
    EXPECT_NE(file.find("Line one of the first.\n.starts with a dot\nlast line\n"), std::string::npos) << file;
    EXPECT_EQ(file.find("second"), std::string::npos);
}

// A message without its "." line, from a peer that then says nothing: the
// read ends at the time-out as a failure.
TEST_F(PopRun, AMessageThatNeverEndsTimesOut)
{
    ScriptedPop peer([](const std::string& c) {
        if (starts(c, "RETR ") || starts(c, "TOP "))
            return Answer{"+OK\r\n" + message("endless", "no end line\r\n"), Then::hold};
        return mailbox({first_text}, c);
    });
    CommandResult r = run_command_line("timeout 60 " + std::string(TAVRIN_BINARY) + " -host:127.0.0.1 -port:" +
                                       peer.port() + " -user:joe -pass:secret -tmo:2 -rm -file:" + dir +
                                       "/out.txt < /dev/null");
    EXPECT_EQ(r.status, 1) << r.err;  // 124 is the outer time-out: the read hung
    EXPECT_NE(r.err.find("Could not retrieve message (1/1)"), std::string::npos) << r.err;
    EXPECT_TRUE(deletions(peer.commands()).empty());
}

TEST_F(PopRun, RmWithAPatternDeletesTheMatchingMessages)
{
    ScriptedPop peer(serving({message("keep me", "a\r\n"), message("Match me", "b\r\n"), message("keep too", "c\r\n"),
                              message("match as well", "d\r\n")}));
    CommandResult r = tavrin(peer.port(), "-rm -pat:match*");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string>& got = peer.commands();
    EXPECT_EQ(deletions(got), (std::vector<std::string>{"DELE 2", "DELE 4"})) << joined(got);
    EXPECT_EQ(got.back(), "QUIT");
}

TEST_F(PopRun, RmAloneDeletesEveryMessage)
{
    ScriptedPop peer(serving({first_text, second_text, third_text}));
    CommandResult r = tavrin(peer.port(), "-rm");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Deleted message # 1\r\nDeleted message # 2\r\nDeleted message # 3\r\n");
    const std::vector<std::string>& got = peer.commands();
    EXPECT_EQ(deletions(got), (std::vector<std::string>{"DELE 1", "DELE 2", "DELE 3"}));
    EXPECT_EQ(count_of(got, "RETR"), 0u);
    EXPECT_EQ(got.back(), "QUIT");
}

// A connection that goes during the bulk deletion takes no more, and none
// of the deletions will be carried out: the run stops there and fails
// (with a count of 2147483647 it would otherwise report them for hours).
TEST_F(PopRun, BulkDeletionStopsWhenTheConnectionGoes)
{
    for (const char* count : {"5", "2147483647"}) {
        SCOPED_TRACE(count);
        ScriptedPop peer([count](const std::string& c) {
            if (c == "STAT") return Answer{std::string("+OK ") + count + " 0\r\n"};
            if (c == "LIST") return Answer{"+OK\r\n.\r\n"};
            if (starts(c, "DELE")) return c == "DELE 3" ? Answer{"", Then::close} : Answer{"+OK\r\n"};
            return mailbox({}, c);
        });
        std::string out = dir + "/out.txt";
        // The file limit and the time-out bound a run that would not stop.
        CommandResult r = run_command_line("(ulimit -f 1024; timeout 60 " + std::string(TAVRIN_BINARY) +
                                           " -host:127.0.0.1 -port:" + peer.port() +
                                           " -user:joe -pass:secret -tmo:10 -rm < /dev/null > " + out + ")");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Could not delete message, error= -1"), std::string::npos) << r.err;
        std::string shown = slurp(out);
        EXPECT_EQ(shown.substr(0, 100), "Deleted message # 1\r\nDeleted message # 2\r\nDeleted message # 3\r\n");
        EXPECT_EQ(deletions(peer.commands()), (std::vector<std::string>{"DELE 1", "DELE 2", "DELE 3"}));
    }
}

TEST_F(PopRun, AnOutputThatCannotBeWrittenDeletesNothing)
{
    struct Case {
        std::string file;
        const char* error;
    } cases[] = {
        {"/dev/full", "Could not write output file: '/dev/full'"},
        {dir + "/missing/out.txt", "Could not open output file: '"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        ScriptedPop peer(serving({first_text, second_text}));
        CommandResult r = tavrin(peer.port(), "-rm -file:" + k.file);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(k.error), std::string::npos) << r.err;
        EXPECT_TRUE(deletions(peer.commands()).empty()) << joined(peer.commands());
    }
}

// The message with a part that cannot be stored stays; the one without a
// part is handled and deleted.
TEST_F(PopRun, AnExtractFolderThatCannotBeWrittenKeepsTheMessage)
{
    ScriptedPop peer(serving({with_attachment(), second_text}));
    CommandResult r = tavrin(peer.port(), "-rm -extract:" + dir + "/nonexistent/dir");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not create attachment file: '" + dir + "/nonexistent/dir/data.bin'"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(deletions(peer.commands()), std::vector<std::string>{"DELE 2"}) << joined(peer.commands());
}

TEST_F(PopRun, ExtractWithRmStoresThePartsBeforeDeleting)
{
    ScriptedPop peer(serving({with_attachment()}));
    CommandResult r = tavrin(peer.port(), "-rm -extract:" + dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir + "/data.bin"), std::string("\x00\x01\x02\x03\x04\x05", 6));
    EXPECT_EQ(deletions(peer.commands()), std::vector<std::string>{"DELE 1"});
}

TEST_F(PopRun, ExecDeletesOnlyAfterTheCommandSucceeded)
{
    {
        ScriptedPop peer(serving({first_text}));
        CommandResult r = tavrin(peer.port(), "-rm \"-exec:exit 3;\"");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Command failed: exit 3;, exit status 3"), std::string::npos) << r.err;
        EXPECT_TRUE(deletions(peer.commands()).empty());
    }
    std::string got = dir + "/piped.txt";
    ScriptedPop peer(serving({first_text, second_text}));
    CommandResult r = tavrin(peer.port(), "-rm \"-exec:cat >> " + got + "\"");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(got), "Line one of the first.\r\n.starts with a dot\r\nlast line\r\nThe second body.\r\n");
    EXPECT_EQ(deletions(peer.commands()), (std::vector<std::string>{"DELE 1", "DELE 2"}));
}

// ---- A hostile peer ----

TEST(PopHostile, EndlessCapaOrListIsRefused)
{
    {
        LoopbackPeer peer([](int s) {
            bound_reads(s);
            LoopbackPeer::send_text(s, "+OK ready\r\n");
            std::string line;
            if (!read_command(s, line) || line != "CAPA") return;
            LoopbackPeer::send_text(s, "+OK\r\n");
            std::string lines;
            while (lines.size() < 4096) lines += "X-CAPABILITY\r\n";
            send_endless(s, [&lines] { return lines; });
        });
        PopClient c;
        EXPECT_LT(open_reader(c, peer.port(), 1), 1);
        EXPECT_FALSE(c.connected());
    }
    LoopbackPeer peer([](int s) {
        bound_reads(s);
        LoopbackPeer::send_text(s, "+OK ready\r\n");
        std::string line;
        while (read_command(s, line) && line != "LIST")
            LoopbackPeer::send_text(s, line == "STAT" ? "+OK 2 20\r\n" : "+OK\r\n");
        LoopbackPeer::send_text(s, "+OK\r\n");
        std::string lines;
        while (lines.size() < 4096) lines += "1 10\r\n2 10\r\n";
        send_endless(s, [&lines] { return lines; });
    });
    PopClient c;
    ASSERT_GT(open_reader(c, peer.port()), 0);
    EXPECT_LT(c.login("joe", "pw"), 1);
    EXPECT_FALSE(c.connected());
}

// Numbers that do not fit are no message numbers and no sizes: they never
// stand for another message, and the total never wraps.
TEST(PopHostile, ListNumbersThatDoNotFit)
{
    ScriptedPop peer([](const std::string& c) {
        if (c == "STAT") return Answer{"+OK 2 300\r\n"};
        if (c == "LIST")
            return Answer{"+OK\r\n1 100\r\n4294967297 7000\r\n2 200\r\n-4294967294 5\r\n1 -5\r\n"
                          "2 99999999999999999999999\r\nx 9\r\n3 9223372036854775807\r\n4 9223372036854775807\r\n.\r\n"};
        return mailbox({}, c);
    });
    PopClient c;
    ASSERT_GT(open_reader(c, peer.port()), 0);
    ASSERT_GT(c.login("joe", "pw"), 0);
    EXPECT_EQ(c.get_message_count(), 2);
    EXPECT_EQ(c.message_size(1), 100);
    EXPECT_EQ(c.message_size(2), 200);
    EXPECT_EQ(c.body_length, 9223372036854775807u);
}

TEST(PopHostile, StatCountsThatDoNotFit)
{
    for (const char* stat : {"+OK 4294967298 10\r\n", "+OK -5 10\r\n", "+OK 99999999999999999999 1\r\n"}) {
        SCOPED_TRACE(stat);
        ScriptedPop peer([stat](const std::string& c) { return c == "STAT" ? Answer{stat} : mailbox({}, c); });
        {
            PopClient c;
            ASSERT_GT(open_reader(c, peer.port()), 0);
            c.login("joe", "pw");
            EXPECT_EQ(c.get_message_count(), 0);
        }
        EXPECT_EQ(count_of(peer.commands(), "LIST"), 0u);
    }
}

long resident_kib()
{
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A count of 2147483647 costs only what LIST sends.
TEST(PopHostile, AHugeCountCostsOnlyTheListedLines)
{
    ScriptedPop peer([](const std::string& c) {
        if (c == "STAT") return Answer{"+OK 2147483647 0\r\n"};
        if (c == "LIST") return Answer{"+OK\r\n1 10\r\n2 20\r\n2147483647 30\r\n.\r\n"};
        if (c == "RETR 2147483647") return Answer{"+OK\r\n" + transfer(second_text)};
        return mailbox({}, c);
    });
    long before = resident_kib();
    {
        PopClient c;
        ASSERT_GT(open_reader(c, peer.port()), 0);
        ASSERT_GT(c.login("joe", "pw"), 0);
        EXPECT_LT(resident_kib() - before, 64 * 1024);
        EXPECT_EQ(c.get_message_count(), 2147483647);
        EXPECT_EQ(c.message_size(2), 20);
        EXPECT_EQ(c.message_size(3), 0);
        EXPECT_EQ(c.message_size(2147483647), 30);
        EXPECT_EQ(c.retrieve(2147483647), 1);
        EXPECT_EQ(c.subject_or_default(), "second one");
    }
    EXPECT_EQ(count_of(peer.commands(), "RETR 2147483647"), 1u);
}

// A reply line longer than the reply buffer is read to its end and dropped
// (up to 1 MiB of it); the next reply is the next command's.
TEST(PopHostile, LongReplyLines)
{
    struct Case {
        size_t length;
        bool in_step;
    } cases[] = {{size_t(1) << 20, true}, {(size_t(1) << 20) + 4096, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.length);
        size_t length = k.length;
        ScriptedPop peer([length](const std::string& c) {
            if (starts(c, "USER")) return Answer{"+OK " + std::string(length, 'u') + "\r\n"};
            if (starts(c, "PASS")) return Answer{"-ERR wrong password\r\n"};
            return mailbox({}, c);
        });
        PopClient c;
        ASSERT_GT(open_reader(c, peer.port()), 0);
        EXPECT_EQ(c.login("joe", "pw"), -1);
        if (k.in_step) {
            EXPECT_STREQ(c.reply, "-ERR wrong password\r\n");  // the PASS reply, not the rest of the USER reply
            EXPECT_TRUE(c.connected());
        } else {
            EXPECT_FALSE(c.connected());
        }
    }
}

TEST(PopHostile, NulBytesInRepliesAndInAMessage)
{
    using namespace std::string_literals;
    std::string body = "before\0after\r\n"s;
    ScriptedPop peer(
        [&body](const std::string& c) {
            if (c == "STAT") return Answer{"+OK 1\0 99\r\n"s};
            if (c == "LIST") return Answer{"+OK\0\r\n1\0 99\r\n.\r\n"s};
            if (c == "RETR 1") return Answer{"+OK\r\n" + transfer(message("nul", body))};
            return mailbox({}, c);
        },
        "+OK \0ready <1.2@\0host>\r\n"s);
    {
        PopClient c;
        c.challenge_auth = 1;
        ASSERT_GT(open_reader(c, peer.port()), 0);
        ASSERT_GT(c.login("joe", "pw"), 0) << c.reply;
        EXPECT_EQ(c.get_message_count(), 1);
        EXPECT_EQ(c.message_size(1), 99);
        ASSERT_EQ(c.retrieve(1), 1);
        EXPECT_EQ(std::string(c.text(), c.body_length), body);
    }
    const std::vector<std::string>& got = peer.commands();
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(starts(got[0], "APOP joe ")) << got[0];
}

// Lines without an end: the parse stops at the buffer the LIST size gives
// (at least 1 MiB) and fails, however much more the peer would send.
TEST(PopHostile, AnEndlessMessageIsCutOffAsAFailure)
{
    LoopbackPeer peer([](int s) {
        bound_reads(s);
        LoopbackPeer::send_text(s, "+OK ready\r\n");
        std::string line;
        while (read_command(s, line) && !starts(line, "RETR")) {
            if (line == "STAT") LoopbackPeer::send_text(s, "+OK 1 100\r\n");
            else if (line == "LIST") LoopbackPeer::send_text(s, "+OK\r\n1 100\r\n.\r\n");
            else LoopbackPeer::send_text(s, "+OK\r\n");
        }
        LoopbackPeer::send_text(s, "+OK\r\n" + message("endless", ""));
        send_endless(s, [] { return std::string(1000, 'z') + "\r\n"; });
    });
    PopClient c;
    ASSERT_GT(open_reader(c, peer.port()), 0);
    ASSERT_GT(c.login("joe", "pw"), 0);
    EXPECT_EQ(c.retrieve(1), 0);
    EXPECT_FALSE(c.connected());
}

// A value too long for the command buffer, or one with a line end in it, is
// never sent: not cut, and never as a command of its own.
TEST(PopHostile, CredentialsThatCannotBeSent)
{
    const std::string huge(20000, 'k');
    const std::string stamp = "<9.9@host>";
    struct Case {
        const char* name;
        int apop;
        std::string user, password;
        std::vector<std::string> expected;
    } cases[] = {
        {"long user", 0, huge, "pw", {}},
        {"long password", 0, "joe", huge, {"USER joe"}},
        {"long user with APOP", 1, huge, "pw", {}},
        {"line end in the user", 0, "joe\r\nDELE 1", "pw", {}},
        {"line end in the password", 0, "joe", "pw\r\nDELE 1", {"USER joe"}},
        {"line end in the user with APOP", 1, "joe\nDELE 1", "pw", {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ScriptedPop peer(serving({first_text}), "+OK ready " + stamp + "\r\n");
        {
            PopClient c;
            c.challenge_auth = k.apop;
            ASSERT_GT(open_reader(c, peer.port()), 0);
            EXPECT_LT(c.login(k.user.c_str(), k.password.c_str()), 1);
            EXPECT_TRUE(c.connected());
        }
        std::vector<std::string> got = peer.commands();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back(), "QUIT");
        got.pop_back();
        EXPECT_EQ(got, k.expected) << joined(got);
    }
    // A long password with APOP is not sent at all: its digest is.
    ScriptedPop peer(serving({}), "+OK ready " + stamp + "\r\n");
    {
        PopClient c;
        c.challenge_auth = 1;
        ASSERT_GT(open_reader(c, peer.port()), 0);
        EXPECT_GT(c.login("joe", huge.c_str()), 0);
    }
    EXPECT_EQ(peer.commands().front(), "APOP joe " + md5_hex(stamp + huge));
}

TEST_F(PopRun, CredentialsThatCannotBeSentFailTheLogin)
{
    {
        ScriptedPop peer(serving({first_text}));
        CommandResult r = tavrin(peer.port(), "-rm \"-user:joe$(printf '\\r\\nDELE 1')\"");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Could not log in as 'joe"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("a value in the command holds a line end"), std::string::npos) << r.err;
        EXPECT_TRUE(deletions(peer.commands()).empty()) << joined(peer.commands());
    }
    {
        ScriptedPop peer(serving({first_text}));
        CommandResult r = tavrin(peer.port(), "-pass:" + std::string(20000, 'p'));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("command longer than the buffer"), std::string::npos) << r.err;
        EXPECT_EQ(count_of(peer.commands(), "PASS"), 0u);
    }
    // Typed at the prompt: too long for the password buffer, so refused.
    std::string typed = dir + "/typed.txt";
    {
        FILE* f = std::fopen(typed.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs((std::string(20000, 'p') + "\n").c_str(), f);
        std::fclose(f);
    }
    ScriptedPop peer(serving({first_text}));
    CommandResult r = run_command_line(std::string(TAVRIN_BINARY) + " -host:127.0.0.1 -port:" + peer.port() +
                                       " -user:joe -tmo:10 < " + typed);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count_of(peer.commands(), "PASS"), 0u) << joined(peer.commands());
}

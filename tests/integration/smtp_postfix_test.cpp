// Sending against Postfix delivering into Dovecot, read back from the
// Maildirs with Python's email package.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "../support/mail_suite.h"

namespace {

using Result = CommandResult;

Result run(const std::string& command) { return run_command_line(command); }

class Postfix : public MailSuite<Postfix> {
protected:
    static void SetUpTestSuite()
    {
        start_servers(closed_port(), closed_port(),
                      {"u:secret", "v:other", "r1:pw", "r2:pw", "r3:pw", "r4:pw", "r5:pw", "r6:pw", "r7:pw"});
    }

    static std::string tavrin(const std::string& args) { return std::string(TAVRIN_BINARY) + " " + args + " -tmo:20"; }
    static std::string to_server(const std::string& port = smtp) { return "-host:127.0.0.1 -port:" + port; }

    // The messages delivered to user, waiting up to ten seconds for count.
    static std::vector<std::string> mailbox(const std::string& user, size_t count)
    {
        std::vector<std::string> files;
        for (int i = 0; i < 100; ++i) {
            files.clear();
            std::string new_dir = dir + "/home/" + user + "/Maildir/new";
            if (DIR* d = opendir(new_dir.c_str())) {
                while (dirent* e = readdir(d))
                    if (e->d_name[0] != '.') files.push_back(new_dir + "/" + e->d_name);
                closedir(d);
            }
            if (files.size() >= count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return files;
    }
    static void empty_mailbox(const std::string& user)
    {
        std::system(("rm -f " + dir + "/home/" + user + "/Maildir/new/*").c_str());
    }
    static std::string tree(const std::string& message, const std::string& out_dir)
    {
        return run("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) + "/tests/support/mime_tree.py " + message +
                   " " + out_dir)
            .out;
    }
};


}  // namespace

TEST_F(Postfix, PlainSendIsDeliveredAndAClosedPortIsReported)
{
    empty_mailbox("u");
    Result r = run(tavrin("-to:u@test.example -from:me@test.example -s:hi -msg:hello " + to_server()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Sent ", 0), 0u) << r.out;
    std::vector<std::string> got = mailbox("u", 1);
    ASSERT_EQ(got.size(), 1u);
    std::string t = tree(got[0], dir);
    EXPECT_NE(t.find("Subject: hi\n"), std::string::npos) << t;
    EXPECT_EQ(fixtures::slurp(dir + "/part-1"), "hello\n");

    std::string port = closed_port();
    Result closed = run(tavrin("-to:u@test.example -from:me@test.example -s:hi -msg:hello -host:127.0.0.1 -port:" + port));
    EXPECT_EQ(closed.status, 1);
    EXPECT_NE(closed.err.find("Could not connect to server: 127.0.0.1:" + port + ", error= -10061\r\n"),
              std::string::npos)
        << closed.err;
}

TEST_F(Postfix, ComposedPartsArriveIntactAndBccIsNotWritten)
{
    empty_mailbox("u");
    empty_mailbox("v");
    std::string work = fixtures::temp_folder();
    std::ofstream(work + "/page.html") << "<p>Hello&nbsp;<b>there</b></p>\n.a line with a dot\n";
    std::system(("head -c 300000 /dev/urandom > " + work + "/data.bin").c_str());
    Result r = run(tavrin("-to:u@test.example -bcc:v@test.example -from:me@test.example -s:Parts -file:" + work +
                          "/page.html -html -alt -qp:0 -a:" + work + "/data.bin " + to_server()));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* user : {"u", "v"}) {
        std::vector<std::string> got = mailbox(user, 1);
        ASSERT_EQ(got.size(), 1u) << user;
        std::string raw = fixtures::slurp(got[0]);
        EXPECT_EQ(raw.find("\nBcc:"), std::string::npos);
        std::string t = tree(got[0], work);
        EXPECT_NE(t.find("application/octet-stream name=data.bin cte=base64 part-3"), std::string::npos) << t;
        EXPECT_EQ(fixtures::slurp(work + "/part-3"), fixtures::slurp(work + "/data.bin"));
        // The dot-stuffed line arrives with one dot, as it was written.
        EXPECT_NE(fixtures::slurp(work + "/part-2").find("\n.a line with a dot"), std::string::npos);
    }
    std::system(("rm -rf " + work).c_str());
}

TEST_F(Postfix, StarttlsAndImplicitTls)
{
    empty_mailbox("u");
    Result tls = run(tavrin("-tls -to:u@test.example -from:me@test.example -s:tls -msg:x " + to_server()));
    ASSERT_EQ(tls.status, 0) << tls.err;
    // "-ssl" also moves the SMTP port to 465; the keyword SSL leaves "-port:" alone.
    std::ofstream(dir + "/ssl.txt") << "SSL\n";
    Result ssl = run("TAVRIN_CONFIG=" + dir + "/ssl.txt " +
                     tavrin("-to:u@test.example -from:me@test.example -s:ssl -msg:x " + to_server(smtps)));
    ASSERT_EQ(ssl.status, 0) << ssl.err;
    std::vector<std::string> got = mailbox("u", 2);
    ASSERT_EQ(got.size(), 2u);
    for (const std::string& file : got)
        EXPECT_NE(fixtures::slurp(file).find("with ESMTPS"), std::string::npos) << fixtures::slurp(file);
}

TEST_F(Postfix, EachAuthenticationMethodAndARefusedPassword)
{
    struct Case { std::string args, mechanism; } cases[] = {
        {"-user:u -pass:secret " + to_server(), "AUTH PLAIN"},
        {"-user:u -pass:secret -crammd5 " + to_server(), "AUTH CRAM-MD5"},
        {"-user:u -pass:secret " + to_server(smtp_login), "AUTH LOGIN"},
    };
    for (const auto& c : cases) {
        // Relaying to another domain needs the login.
        Result r = run(tavrin("-v:2 -to:someone@elsewhere.example -from:u@test.example -s:auth -msg:x " + c.args));
        EXPECT_EQ(r.status, 0) << c.mechanism << r.out << r.err;
        EXPECT_NE(r.out.find(c.mechanism), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("235 2.7.0 Authentication successful"), std::string::npos);
    }
    Result refused = run(tavrin("-user:u -pass:wrong -to:u@test.example -from:u@test.example -s:x -msg:x " +
                                to_server()));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err.rfind("Login failed: 5", 0), 0u) << refused.err;
}

TEST_F(Postfix, DsnAndEightBitParametersAreAccepted)
{
    empty_mailbox("u");
    Result dsn = run(tavrin("-v:2 -dsn -to:u@test.example -from:me@test.example -s:dsn -msg:x " + to_server()));
    ASSERT_EQ(dsn.status, 0) << dsn.err;
    EXPECT_NE(dsn.out.find("RCPT TO:<u@test.example> NOTIFY=DELAY,SUCCESS,FAILURE ORCPT=rfc822;u@test.example\r\n"
                           "250 2.1.5 Ok"),
              std::string::npos)
        << dsn.out;
    Result eight = run(tavrin("-v:2 -8 -to:u@test.example -from:me@test.example -s:8bit -msg:caf\xe9 " + to_server()));
    ASSERT_EQ(eight.status, 0) << eight.err;
    EXPECT_NE(eight.out.find("MAIL FROM:<me@test.example> BODY=8BITMIME\r\n250 2.1.0 Ok"), std::string::npos);
    EXPECT_NE(eight.out.find("Content-Transfer-Encoding: 8bit"), std::string::npos);
}

// After STARTTLS no EHLO follows the login, so the capabilities of the
// encrypted EHLO still hold for the envelope.
TEST_F(Postfix, DsnAndEightBitAfterLoginOnAnEncryptedConnection)
{
    Result r = run(tavrin("-v:2 -tls -user:u -pass:secret -dsn -8 -to:someone@elsewhere.example -from:u@test.example "
                          "-s:both -msg:caf\xe9 " + to_server()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("235 2.7.0 Authentication successful"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("MAIL FROM:<u@test.example> BODY=8BITMIME\r\n250 2.1.0 Ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("RCPT TO:<someone@elsewhere.example> NOTIFY=DELAY,SUCCESS,FAILURE"), std::string::npos);
}

TEST_F(Postfix, SevenRecipientsSplitByLimitsIntoTransactions)
{
    std::string seven = "-to:r1@test.example,r2@test.example,r3@test.example,r4@test.example,r5@test.example,"
                        "r6@test.example,r7@test.example";
    struct Case { std::string extra; size_t transactions; } cases[] = {
        {"-limit:3", 3},  // our own limit
        {"", 2},          // the server's: 452 for the sixth recipient
    };
    for (const auto& c : cases) {
        for (int i = 1; i <= 7; ++i) empty_mailbox("r" + std::to_string(i));
        Result r = run(tavrin("-v:2 " + c.extra + " " + seven + " -from:me@test.example -s:many -msg:x " + to_server()));
        ASSERT_EQ(r.status, 0) << r.err;
        size_t mails = 0;
        for (size_t at = 0; (at = r.out.find("MAIL FROM:", at)) != std::string::npos; ++at) ++mails;
        EXPECT_EQ(mails, c.transactions) << c.extra;
        for (int i = 1; i <= 7; ++i) EXPECT_EQ(mailbox("r" + std::to_string(i), 1).size(), 1u) << i;
    }
}

TEST_F(Postfix, EtrnAndContinuingPastAnUnknownUser)
{
    Result etrn = run(tavrin("-v:2 -etrn:test.example -from:me@test.example " + to_server()));
    EXPECT_EQ(etrn.status, 0) << etrn.err;
    EXPECT_NE(etrn.out.find("ETRN test.example\r\n250"), std::string::npos) << etrn.out;

    empty_mailbox("u");
    Result stops = run(tavrin("-to:nobody@test.example,u@test.example -from:me@test.example -s:x -msg:x " + to_server()));
    EXPECT_EQ(stops.status, 1);
    EXPECT_NE(stops.err.find("Status: 550"), std::string::npos) << stops.err;
    Result goes_on = run(tavrin("-ns -to:nobody@test.example,u@test.example -from:me@test.example -s:x -msg:x " +
                                to_server()));
    EXPECT_EQ(goes_on.status, 0) << goes_on.err;
    EXPECT_EQ(mailbox("u", 1).size(), 1u);
}

TEST_F(Postfix, ExchangersFromDnsmasqInPreferenceOrder)
{
    REQUIRE_PROGRAM("dnsmasq");
    // The exchangers are named by their addresses: the system's own resolver
    // knows nothing of test.example.
    struct Case { std::string records, first; } cases[] = {
        {"127.0.0.1:10:127.0.0.1 127.0.0.9:20:127.0.0.9", "127.0.0.1"},  // the first one takes it
        {"127.0.0.9:10:127.0.0.9 127.0.0.1:20:127.0.0.1", "127.0.0.9"},  // the first refuses: the second
    };
    for (const auto& c : cases) {
        empty_mailbox("u");
        std::string dns_dir = fixtures::temp_folder();
        ASSERT_EQ(std::system((fixtures::script("dns_server") + " " + dns_dir + " 127.0.0.2 53 " + c.records).c_str()), 0);
        Result r = run(tavrin("-v -mx -host:127.0.0.2 -port:" + smtp +
                              " -to:u@test.example -from:me@test.example -s:mx -msg:x"));
        fixtures::stop_pid(fixtures::read_pid(dns_dir + "/dnsmasq.pid"));
        std::system(("rm -rf " + dns_dir).c_str());
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(mailbox("u", 1).size(), 1u);
        EXPECT_NE(r.out.find("[127.0.0.2] MX/A server (10) = '" + c.first + "'"), std::string::npos) << r.out;
    }
}

TEST_F(Postfix, ScriptFunctionsThroughTheLibrary)
{
    empty_mailbox("u");
    std::string work = fixtures::temp_folder();
    std::ofstream(work + "/body.txt") << "a file body\n";
    std::string zebhost = std::string(TAVRIN_ZEBHOST) + " " + TAVRIN_LIBRARY;
    Result r = run(zebhost + " 'kinit(\"127.0.0.1\",\"me@test.example\",\"\",\"\",\"" + smtp +
                   "\")' 'kdest(\"u@test.example\",\"\",\"\")' 'ksendtext(\"Text\",\"Hello there\",\"\",\"\")' "
                   "'ksendfile(\"File\",\"" + work + "/body.txt\",\"\",\"h\")' 'kstatusinfo()'");
    std::system(("rm -rf " + work).c_str());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("1\n1\n1\n1\nSent ", 0), 0u) << r.out;
    EXPECT_EQ(mailbox("u", 2).size(), 2u);
}

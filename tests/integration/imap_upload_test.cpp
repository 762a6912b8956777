// Uploading to IMAP folders of Dovecot: the message arrives as "-mf" would
// write it, flagged \Seen, over plain IMAP, STARTTLS and a login referral;
// APPENDUID is kept; a folder that does not exist is refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "../support/mail_suite.h"
#include "send/imaptp_client.h"

namespace {

using Result = CommandResult;

class ImapUpload : public MailSuite<ImapUpload> {
protected:
    static void SetUpTestSuite() { start_servers(closed_port(), closed_port(), {"u:secret", "ref:secret:referral=u"}); }

    static void make_folder(const std::string& name)
    {
        std::string box = maildir("u", name);
        std::string cmd = "mkdir -p " + box + "/cur " + box + "/new " + box + "/tmp && chown -R 5000:5000 " +
                          maildir("u") + " && rm -f " + box + "/cur/* " + box + "/new/*";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    // Message 1 of a folder over IMAP, as the server gives it.
    std::string fetched(const std::string& folder) const
    {
        std::string out = work + "/fetched.eml";
        std::string cmd = "python3 -c \"import imaplib,sys; M=imaplib.IMAP4('127.0.0.1'," + imap +
                          "); M.login('u','secret'); M.select('" + folder +
                          "'); t,d=M.fetch('1','(FLAGS BODY.PEEK[])'); open(sys.argv[1],'wb').write(d[0][0]+b'\\n'+d[0][1])\" " +
                          out;
        if (std::system(cmd.c_str()) != 0) return "";
        return fixtures::slurp(out);
    }

    std::string message_options() const
    {
        return " -from:me@test.example -to:you@test.example -s:Uploaded '-date:Fri, 11 Dec 2026 10:00:00 +0000' "
               "-file:" + work + "/body.txt -a:" + work + "/data.bin";
    }

    void write_sources() const
    {
        std::ofstream(work + "/body.txt") << "First line\n.a line that starts with a dot\n.\nlast\n";
        std::ofstream data(work + "/data.bin", std::ios::binary);
        for (int i = 0; i < 5000; ++i) data.put(static_cast<char>(i * 7));
    }
};

// Boundaries and the Message-ID differ from one composition to the next.
std::string comparable(const std::string& message)
{
    std::string m = std::regex_replace(message, std::regex("\r\n"), "\n");
    std::string out = m;
    std::regex declared("boundary=\"([^\"]+)\"");
    std::vector<std::string> boundaries;
    for (auto it = std::sregex_iterator(m.begin(), m.end(), declared); it != std::sregex_iterator(); ++it)
        boundaries.push_back((*it)[1]);
    for (const std::string& boundary : boundaries) {
        size_t at;
        while ((at = out.find(boundary)) != std::string::npos) out.replace(at, boundary.size(), "BOUNDARY");
    }
    return std::regex_replace(out, std::regex("Message-ID: [^\n]*\n"), "");
}

TEST_F(ImapUpload, TheFolderGetsWhatAMessageFileHoldsOverEachWayIn)
{
    write_sources();
    const struct {
        const char* name;
        const char* account;
    } ways[] = {
        {"plain", "-user:u -pass:secret"},
        {"STARTTLS", "-user:u -pass:secret -tls"},
        {"referral", "-user:ref -pass:secret"},
    };
    Result file = run_command_line("cd " + work + " && " + TAVRIN_BINARY + " -mf -host:" + work + "/copy.eml" +
                                   message_options());
    ASSERT_EQ(file.status, 0) << file.err;
    std::string expected = comparable(fixtures::slurp(work + "/copy.eml"));
    ASSERT_NE(expected.find("\n=2Ea line that starts with a dot\n"), std::string::npos) << expected;
    for (const auto& way : ways) {
        make_folder("Archive");
        Result r = run_command_line("cd " + work + " && " + TAVRIN_BINARY + " -imap -host:127.0.0.1 -port:" + imap +
                                    " " + way.account + " -mbox:Archive -tmo:20" + message_options());
        ASSERT_EQ(r.status, 0) << way.name << "\n" << r.out << r.err;
        std::string got = fetched("Archive");
        size_t first_line = got.find('\n');
        ASSERT_NE(first_line, std::string::npos) << way.name;
        EXPECT_NE(got.substr(0, first_line).find("\\Seen"), std::string::npos) << way.name;
        EXPECT_EQ(comparable(got.substr(first_line + 1)), expected) << way.name;
    }
}

TEST_F(ImapUpload, AppendUidIsKeptAndAMissingFolderIsRefused)
{
    make_folder("Kept");
    MyImaptpClient t{string()};
    t.timeout = 20;
    ASSERT_EQ(t.open_connection("127.0.0.1", imap.c_str(), nullptr, 0), 1) << t.reply;
    ASSERT_EQ(t.login("u", "secret"), 1) << t.reply;
    Envelope e;
    e.from = "me@test.example";
    e.to = "you@test.example";
    e.subject = "kept";
    EXPECT_TRUE(t.set_folder("Kept"));
    EXPECT_FALSE(t.set_folder(""));
    ASSERT_EQ(t.send_message(e, "text\r\n", 6), 1) << t.reply;
    EXPECT_GT(t.append_uid_validity, 0u);
    EXPECT_GT(t.append_uid, 0u);
    unsigned long first = t.append_uid;
    ASSERT_EQ(t.send_message(e, "more\r\n", 6), 1) << t.reply;
    EXPECT_EQ(t.append_uid, first + 1);

    t.set_folder("NoSuchFolder");
    EXPECT_LE(t.send_message(e, "lost?\r\n", 7), 0);
    EXPECT_NE(std::string(t.reply).find("NO"), std::string::npos) << t.reply;
    // The connection still answers: the refused literal was never sent.
    t.set_folder("Kept");
    EXPECT_EQ(t.send_message(e, "after\r\n", 7), 1) << t.reply;
    t.disconnect();
}

TEST_F(ImapUpload, AWrongPasswordFailsTheRun)
{
    make_folder("Archive");
    write_sources();
    Result r = run_command_line("cd " + work + " && " + TAVRIN_BINARY + " -imap -host:127.0.0.1 -port:" + imap +
                                " -user:u -pass:wrong -mbox:Archive -tmo:20" + message_options());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Login failed: "), std::string::npos) << r.err;
    EXPECT_TRUE(message_files("u", "Archive").empty());
}

}  // namespace

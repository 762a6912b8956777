// What the receive driver writes for a message, through the file reader
// ("-mail"): header lines and their options, labels, the separator, the
// harvest file, "-noatt" and "-text", "-xit", "-kbs", "-filter:", PGP through
// an outside program, and a message file that stays when its output failed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "../../support/command.h"
#include "../../support/file_text.h"

namespace {

const char* const message =
    "From: Ann <ann@test.example>\r\nReply-To: desk@test.example\r\nTo: u@test.example\r\nSubject: Hello\r\n"
    "Date: Thu, 10 Dec 2026 10:00:00 +0000\r\nMessage-ID: <m1@test.example>\r\nMIME-Version: 1.0\r\n"
    "Disposition-Notification-To: ann@test.example\r\nImportance: high\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\nBody text\r\n"
    "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"d.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\nAQIDDQo=\r\n--b--\r\n";

class ReceiveOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        char t[] = "/tmp/tavrin-receive-XXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        dir = t;
        write("m.eml", message);
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    void write(const std::string& name, const std::string& text) const
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }
    CommandResult tavrin(const std::string& args, const std::string& file = "m.eml") const
    {
        return run_command_line("cd " + dir + " && " + TAVRIN_BINARY + " -mail -host:" + dir + "/" + file + " " +
                                args + " < /dev/null");
    }
    std::string dir;
};

}  // namespace

TEST_F(ReceiveOutput, HeaderLinesFollowTheirOptions)
{
    const struct {
        const char* args;
        const char* shows;  // a piece of the report, or of its absence after '!'
    } cases[] = {
        {"", "1. Hello\r\nDate: Thu, 10 Dec 2026 10:00:00 +0000\r\nDisposition-Notification-To: ann@test.example\r\n"
             "Importance: High\r\nFrom: Ann <ann@test.example>\r\nReply-To: desk@test.example\r\nTo: u@test.example\r\n\r\n"},
        {"", "!Message-Id: "},
        {"-full -size", "To: u@test.example\r\nMessage-Id: <m1@test.example>\r\nMime-Version: 1.0\r\n"
                        "Content-Type: multipart/mixed; boundary=\"b\"\r\nSize: "},
        {"-org:Acme", "Organization: Acme\r\nFrom: "},
        {"-sep:=====", "There are 1 messages waiting (", },
        {"-sep:=====", "1. =====\nHello\r\n"},  // the separator line comes after the number
        {"-br", "To: u@test.example\r\n\r\n"},
        {"-br", "!Body text"},
        {"-q", "!Hello"},
        {"-raw", "!1. Hello"},
        {"-filter:x", "!Hello"},
        {"-noatt", "!Attachment:"},
        {"-kbs", "\r\nReceived "},
    };
    for (const auto& c : cases) {
        CommandResult r = tavrin(c.args);
        EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
        bool absent = c.shows[0] == '!';
        EXPECT_EQ(r.out.find(c.shows + (absent ? 1 : 0)) == std::string::npos, absent) << c.args << "\n" << r.out;
    }
}

TEST_F(ReceiveOutput, LabelsComeFromTheConfigurationFile)
{
    write("tavrin.txt", "STRING_From Absender\nSTRING_Thereare Es gibt\nSTRING_Messageswaiting Nachrichten\n");
    CommandResult r = tavrin("-config:" + dir + "/tavrin.txt");
    EXPECT_EQ(r.out.rfind("Es gibt 1 Nachrichten (", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Absender: Ann <ann@test.example>\r\n"), std::string::npos) << r.out;
}

TEST_F(ReceiveOutput, PartsHarvestXitAndText)
{
    CommandResult r = tavrin("-extract:" + dir + " -harvest:" + dir + "/harvest.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\r\nBody text\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Attachment: d.bin (5 bytes) (application/octet-stream)\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(slurp(dir + "/d.bin"), "\x01\x02\x03\r\n");
    EXPECT_EQ(slurp(dir + "/harvest.txt"), "desk@test.example\r\n");
    // "-text" stores every part as text: its CR LF becomes LF.
    ASSERT_EQ(tavrin("-extract:" + dir + " -text").status, 0);
    EXPECT_EQ(slurp(dir + "/d.bin"), "\x01\x02\x03\n");
    EXPECT_EQ(tavrin("-xit").status, 1);  // the count
}

TEST_F(ReceiveOutput, AMessageWhoseOutputFailedIsNotDeleted)
{
    CommandResult full = tavrin("-file:/dev/full -rm");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("Could not write output file: '/dev/full'"), std::string::npos) << full.err;
    EXPECT_TRUE(std::ifstream(dir + "/m.eml").good());
    CommandResult stored = tavrin("-file:" + dir + "/out.txt -rm");
    EXPECT_EQ(stored.status, 0) << stored.err;
    EXPECT_FALSE(std::ifstream(dir + "/m.eml").good());
    EXPECT_NE(slurp(dir + "/out.txt").find("Body text"), std::string::npos);
}

TEST_F(ReceiveOutput, PgpTextGoesThroughTheProgram)
{
    // A stand-in for the program: "+compatible IN -o OUT ..." with the
    // decrypted text (the armour's second line) in OUT, or nothing and a
    // complaint on standard output when the pass phrase is wrong.
    write("pgp.sh", "#!/bin/sh\n"
                    "case \"$*\" in *'-z right'*) sed -n 2p \"$2\" > \"$4\";; *) echo 'bad pass phrase';; esac\n");
    ASSERT_EQ(std::system(("chmod +x " + dir + "/pgp.sh").c_str()), 0);
    write("p.eml", "From: a@test.example\r\nTo: u@test.example\r\nSubject: secret\r\n\r\n"
                   "-----BEGIN PGP MESSAGE-----\r\nthe plain text\r\n-----END PGP MESSAGE-----\r\n");
    std::string program = " -pgp -pgp:" + dir + "/pgp.sh";
    CommandResult right = tavrin(program + " -pgppass:right", "p.eml");
    EXPECT_EQ(right.status, 0) << right.err;
    EXPECT_NE(right.out.find("the plain text"), std::string::npos) << right.out;
    EXPECT_EQ(right.out.find("BEGIN PGP"), std::string::npos) << right.out;
    CommandResult wrong = tavrin(program + " -pgppass:wrong", "p.eml");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.out.find("bad pass phrase"), std::string::npos) << wrong.out;
    for (const char* left : {"__PGP___.asc", "__PGP___.dat", "__PGP___.err"})
        EXPECT_FALSE(std::ifstream(dir + "/" + left).good()) << left;
}

// Receiving over POP3 from Dovecot: messages seeded into the Maildir (built
// by Python's email package), fetched, reported, extracted and deleted;
// what stays on the server is read back from the Maildir after QUIT.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../support/mail_suite.h"

namespace {

using Result = CommandResult;

class Pop3 : public MailSuite<Pop3> {
protected:
    // Implicit TLS: "-ssl" always takes the POP3 port 995.
    static void SetUpTestSuite() { start_servers(closed_port(), "995", {"u:secret", "w:other"}); }

    Result tavrin(const std::string& args, const std::string& account = "-user:u -pass:secret") const
    {
        return run_command_line("cd " + work + " && " + TAVRIN_BINARY + " -host:127.0.0.1 -port:" + pop3 + " " +
                                account + " " + args + " -tmo:20");
    }
};

}  // namespace

TEST_F(Pop3, ReportsEveryMessageAndExtractsItsPartsByteForByte)
{
    seed_all();
    Result r = tavrin("-extract:" + work);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("There are 5 messages waiting (" + std::to_string(seeded_bytes()) + " bytes)\r\n", 0), 0u)
        << r.out;
    for (const char* text : {"1. plain note\r\nDate: Tue, 01 Dec 2026 10:00:00 +0000\r\n",
                             "Hello there.\n.a line that begins with a dot\nBye.\n",
                             "Attachment: data.bin (3000 bytes) (application/octet-stream)\r\n",
                             "Attachment: notes.txt (23 bytes) (text/plain)\r\n",
                             "3. Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln\r\n",
                             "From: J\xc3\xb6rg M\xc3\xbcller <joerg@test.example>\r\n",
                             "Sch\xc3\xb6ne Gr\xc3\xbc\xc3\x9f" "e.",
                             "The picture:", "Attachment: pic.gif (500 bytes) (application/octet-stream)\r\n"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    for (const char* name : {"data.bin", "notes.txt", "pic.gif"})
        EXPECT_EQ(fixtures::slurp(work + "/" + name), fixtures::slurp(dir + "/seeds/expected/" + name)) << name;
    // Without "-unique" the second part of the same name replaces the first.
    EXPECT_EQ(fixtures::slurp(work + "/same.txt"), "second copy\n");
    EXPECT_EQ(remaining(), seeds_but({}));  // nothing deleted without "-rm"
}

TEST_F(Pop3, UniqueNamesKeepBothPartsAndTheReportNamesTheCopy)
{
    seed({"twin"});
    Result r = tavrin("-extract:" + work + " -unique");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fixtures::slurp(work + "/same.txt"), "first copy\n");
    EXPECT_EQ(fixtures::slurp(work + "/Copy1_same.txt"), "second copy\n");
    EXPECT_NE(r.out.find("Attachment: Copy1_same.txt (12 bytes) (text/plain)\r\n"), std::string::npos) << r.out;
}

TEST_F(Pop3, FiltersAndRangesSelectWhatRmDeletes)
{
    const struct {
        const char* args;
        std::initializer_list<int> deleted;
    } cases[] = {
        {"-rm", {1, 2, 3, 4, 5}},
        {"-pat:*FILES* -rm", {2}},
        {"-nopat:*files* -rm", {1, 3, 4, 5}},
        {"-spat:*carol* -rm", {4}},
        {"-nospat:*carol* -rm", {1, 2, 3, 5}},
        {"-msg:2 -rm", {2}},
        {"-msg:2 -first:1 -rm", {2, 3}},
        {"-first:1 -rm", {1, 2}},
        {"-msg:9 -rm", {}},
        {"-pat:*nothing matches* -rm", {}},
    };
    for (const auto& c : cases) {
        seed_all();
        Result r = tavrin(c.args);
        EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
        EXPECT_EQ(remaining(), seeds_but(c.deleted)) << c.args;
    }
    seed_all();
    Result bulk = tavrin("-msg:4 -first:1 -rm");
    EXPECT_EQ(bulk.out, "Deleted message # 4\r\nDeleted message # 5\r\n");
}

TEST_F(Pop3, ExecGetsTheMessageTextAndRmDeletesItAfterwards)
{
    seed_all();
    std::string out = work + "/exec.txt";
    Result r = tavrin("-msg:1 -exec:\"cat >>" + out + "\" -rm");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fixtures::slurp(out), "Hello there.\r\n.a line that begins with a dot\r\nBye.\r\n");
    EXPECT_EQ(remaining(), seeds_but({1}));

    // A command that fails keeps the message.
    Result failed = tavrin("-msg:2 -exec:false -rm");
    EXPECT_EQ(remaining(), seeds_but({1}));
    EXPECT_NE(failed.err.find("Command failed: false"), std::string::npos) << failed.err;
}

TEST_F(Pop3, OutputFileAppendsAndAMessageItCouldNotTakeStays)
{
    seed({"plain", "mixed"});
    std::string file = work + "/mail.txt";
    for (int run = 0; run < 2; ++run) ASSERT_EQ(tavrin("-msg:1 -file:" + file).status, 0);
    std::string text = fixtures::slurp(file);
    size_t first = text.find("Hello there.");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find("Hello there.", first + 1), std::string::npos) << "the second run appends";

    Result full = tavrin("-file:/dev/full -rm");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("Could not write output file: '/dev/full'"), std::string::npos) << full.err;
    Result no_folder = tavrin("-extract:" + work + "/missing -file:" + file + " -rm");
    EXPECT_EQ(no_folder.status, 1);
    EXPECT_NE(no_folder.err.find("Could not create attachment file: '" + work + "/missing/data.bin'"),
              std::string::npos)
        << no_folder.err;
    // The plain message was written and deleted; the one whose parts could
    // not be stored is still there.
    EXPECT_EQ(remaining(), seeds_but({1, 3, 4, 5}));
}

TEST_F(Pop3, EncryptedAndChallengeLoginsRetrieve)
{
    seed({"plain"});
    const struct {
        const char* args;
        const char* shows;
    } cases[] = {
        {"-apop -v:2", "APOP u "},
        {"-tls -v:2", "STLS\r\n"},
        {"-tls -apop -v:2", "APOP u "},
        {"-ssl -v:2", "+OK"},
    };
    for (const auto& c : cases) {
        Result r = tavrin(c.args);
        EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
        EXPECT_NE(r.out.find(c.shows), std::string::npos) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find("Hello there."), std::string::npos) << c.args;
    }
    // APOP sends no password; STLS comes before anything that would.
    Result tls = tavrin("-tls -v:2");
    EXPECT_LT(tls.out.find("STLS\r\n"), tls.out.find("USER u"));
}

TEST_F(Pop3, WrongPasswordIsReportedWithTheServersReply)
{
    seed({"plain"});
    // From another source address: Dovecot slows later logins from one that
    // failed.
    Result r = run_command_line(std::string("TAVRIN_SOURCE_ADDRESS=127.0.0.5 LD_PRELOAD=") + TAVRIN_SOURCE_SHIM + " " +
                                TAVRIN_BINARY + " -host:127.0.0.1 -port:" + pop3 + " -user:u -pass:wrong -tmo:20");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Could not log in as 'u' to: 127.0.0.1:" + pop3 + "\r\n-ERR ", 0), 0u) << r.err;
    EXPECT_EQ(remaining(), seeds_but({2, 3, 4, 5}));
}

TEST_F(Pop3, ReadReceiptGoesThroughPostfixToTheSender)
{
    std::string message = "From: w@test.example\r\nTo: Me <u@test.example>\r\nSubject: please confirm\r\n"
                          "Disposition-Notification-To: w@test.example\r\n\r\nDid you read this?\r\n";
    ASSERT_EQ(std::system(("rm -f " + maildir("u") + "/new/* " + maildir("u") + "/cur/* " + maildir("w") + "/new/*")
                              .c_str()),
              0);
    std::ofstream(maildir("u") + "/new/1700000001.M1P1.seed") << message;
    std::system(("chown -R 5000:5000 " + maildir("u")).c_str());
    std::string config = work + "/tavrin.txt";
    std::ofstream(config) << "SMTP_PORT " << smtp << "\nPOP3_PORT " << pop3 << "\n";
    Result r = tavrin("-mdn -config:" + config);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Disposition-Notification-To: w@test.example\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(arrived("w", 1), std::vector<std::string>{"Subject: Read: please confirm (RECEIPT)"});
}

TEST_F(Pop3, ScriptFunctionsGetAndDeleteMail)
{
    seed_all();
    std::string zebhost = std::string(TAVRIN_ZEBHOST) + " " + TAVRIN_LIBRARY;
    std::string init = "'kinit(\"127.0.0.1\",\"\",\"u\",\"secret\",\"" + pop3 + "\")'";
    Result got = run_command_line("cd " + work + " && " + zebhost + " " + init + " 'kgetmail(\"1\",\"\",\"\",\"\",\"\")'" +
                                  " 'kstatusinfo()'");
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out.rfind("1\nThere are 5 messages waiting (", 0), 0u) << got.out;
    EXPECT_NE(got.out.find("1. plain note\r\n"), std::string::npos) << got.out;
    EXPECT_NE(got.out.find("Hello there."), std::string::npos) << got.out;
    EXPECT_EQ(got.out.find("2. report"), std::string::npos) << "only the message asked for";

    Result deleted = run_command_line(zebhost + " " + init + " 'kdeletepop3(\"2\")'");
    EXPECT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_EQ(deleted.out, "1\n1\n");
    EXPECT_EQ(remaining(), seeds_but({2}));
}

TEST_F(Pop3, RelayForwardsTheMessageAsReceivedAndRmDeletesOnlyWhatWentOut)
{
    seed({"plain", "mixed"});
    ASSERT_EQ(std::system(("rm -f " + maildir("w") + "/new/*").c_str()), 0);
    std::string config = work + "/tavrin.txt";
    std::ofstream(config) << "SMTP_PORT " << smtp << "\nPOP3_PORT " << pop3 << "\n";
    Result r = tavrin("-relay:127.0.0.1 -to:w@test.example -rm -config:" + config);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(arrived("w", 2), seeds_but({3, 4, 5}));
    EXPECT_EQ(remaining(), seeds_but({1, 2, 3, 4, 5}));

    // A relay that cannot be reached: the run ends, nothing is deleted.
    seed({"plain"});
    std::ofstream(config) << "SMTP_PORT " << closed_port() << "\nPOP3_PORT " << pop3 << "\n";
    Result down = tavrin("-relay:127.0.0.1 -to:w@test.example -rm -config:" + config);
    EXPECT_EQ(down.status, 1);
    EXPECT_NE(down.err.find("Could not connect to relay: 127.0.0.1:"), std::string::npos) << down.err;
    EXPECT_EQ(remaining(), seeds_but({2, 3, 4, 5}));
}

TEST_F(Pop3, APasswordNotGivenIsAskedFor)
{
    seed({"plain"});
    Result r = run_command_line("cd " + work + " && echo secret | " + TAVRIN_BINARY + " -host:127.0.0.1 -port:" +
                                pop3 + " -user:u -tmo:20");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Password: \r\n\r\nThere are 1 messages waiting", 0), 0u) << r.out;
    Result none = run_command_line(std::string(TAVRIN_BINARY) + " -host:127.0.0.1 -port:" + pop3 +
                                   " -user:u -tmo:20 < /dev/null");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "Missing password\r\n");
}

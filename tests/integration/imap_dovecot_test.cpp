// Receiving over IMAP from Dovecot: listing and retrieval with extraction,
// headers only, SEARCH and SORT in UID mode, single parts, folders, copy
// and move, deletion with expunge, access control lists between two users,
// the ways to log in, IDLE woken by a delivery, a login referral.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "../support/mail_suite.h"
#include "retrieve/imap_client.h"

namespace {

using Result = CommandResult;

class Imap : public MailSuite<Imap> {
protected:
    // Implicit TLS: "-ssl" always takes the IMAP port 993.
    static void SetUpTestSuite()
    {
        start_servers("993", closed_port(), {"u:secret", "v:other", "ref:secret:referral=u"});
    }

    Result tavrin(const std::string& args, const std::string& account = "-user:u -pass:secret") const
    {
        return run_command_line("cd " + work + " && " + TAVRIN_BINARY + " -imap -host:127.0.0.1 -port:" + imap + " " +
                                account + " " + args + " -tmo:20");
    }

    // The Maildir flags of the messages in u's INBOX ("S", "ST", ""), in
    // the order of their subjects.
    static std::vector<std::string> flags()
    {
        std::vector<std::pair<std::string, std::string>> found;
        for (const std::string& file : message_files()) {
            size_t at = file.rfind(":2,");
            found.emplace_back(mail_suite::subject_line(fixtures::slurp(file)),
                               at == std::string::npos ? "" : file.substr(at + 3));
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> out;
        for (auto& f : found) out.push_back(f.second);
        return out;
    }

    // The order of the messages in a report, by their "N. subject" lines.
    static std::vector<std::string> reported(const std::string& report)
    {
        std::vector<std::string> subjects;
        for (size_t at = 0; (at = report.find("\r\n", at)) != std::string::npos; at += 2) {
            size_t start = at + 2, dot = report.find(". ", start);
            if (dot == std::string::npos || dot == start || report.find_first_not_of("0123456789", start) != dot) continue;
            subjects.push_back(report.substr(dot + 2, report.find("\r\n", dot) - dot - 2));
        }
        return subjects;
    }
};

}  // namespace

TEST_F(Imap, ReportsEveryMessageAndExtractsItsPartsByteForByte)
{
    seed_all();
    Result r = tavrin("-extract:" + work);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("There are 5 messages waiting (" + std::to_string(seeded_bytes()) + " bytes)\r\n", 0), 0u)
        << r.out;
    for (const char* text : {"Hello there.\n.a line that begins with a dot\nBye.\n",
                             "Attachment: data.bin (3000 bytes) (application/octet-stream)\r\n",
                             "3. Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln\r\n", "The picture:"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    for (const char* name : {"data.bin", "notes.txt", "pic.gif"})
        EXPECT_EQ(fixtures::slurp(work + "/" + name), fixtures::slurp(dir + "/seeds/expected/" + name)) << name;
    EXPECT_EQ(flags(), std::vector<std::string>(5, "S"));  // read messages are seen
}

TEST_F(Imap, HeadersOnlyLeaveMessagesUnseen)
{
    seed({"plain", "mixed"});
    Result r = tavrin("-br");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(reported(r.out), (std::vector<std::string>{"plain note", "report with files"})) << r.out;
    EXPECT_EQ(r.out.find("Hello there."), std::string::npos) << r.out;
    EXPECT_EQ(flags(), std::vector<std::string>(2, ""));
}

TEST_F(Imap, SearchAndSortChooseTheMessagesByUid)
{
    seed_all();
    Result search = tavrin("-search:'SUBJECT files' -size");
    ASSERT_EQ(search.status, 0) << search.err;
    EXPECT_EQ(reported(search.out), std::vector<std::string>{"report with files"}) << search.out;
    std::string size = std::to_string(fixtures::slurp(dir + "/seeds/mixed.eml").size());
    EXPECT_NE(search.out.find("Size: " + size + " bytes\r\n"), std::string::npos) << search.out;  // the UID's message
    EXPECT_EQ(search.out.rfind("There are 1 messages waiting", 0), 0u) << search.out;

    Result sorted = tavrin("-sort:SUBJECT -br");
    ASSERT_EQ(sorted.status, 0) << sorted.err;
    EXPECT_EQ(reported(sorted.out),
              (std::vector<std::string>{"Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln", "plain note", "report with files",
                                        "two of the same name", "uuencoded picture"}))
        << sorted.out;

    // Deleting what a search found, with the expunge at the end.
    Result deleted = tavrin("-search:'FROM carol' -rm -purge");
    ASSERT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_EQ(remaining(), seeds_but({4}));
}

TEST_F(Imap, BodyStructureLinesNameEveryPart)
{
    seed({"plain", "alt", "mixed"});
    Result r = tavrin("-bs -rm");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"part:1,MIME=text/plain,charset=utf-8,encoding=7bit,,name=,size=",
                             "part:TEXT,MIME=MULTIPART/alternative,charset=,encoding=,,name=,size=0\n",
                             "part:2,MIME=text/html,charset=utf-8,encoding=7bit,,name=,size=",
                             "part:TEXT,MIME=MULTIPART/mixed,",
                             "part:2,MIME=application/octet-stream,charset=,encoding=base64,attachment,name=data.bin,size=",
                             "part:3,MIME=text/plain,charset=us-ascii,encoding=base64,attachment,name=notes.txt,size="})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_EQ(r.out.find("Hello there."), std::string::npos) << r.out;
    EXPECT_EQ(remaining().size(), 3u) << "nothing else happens to the messages";
}

TEST_F(Imap, OnePartIsFetchedDecoded)
{
    seed({"mixed"});
    std::string out = work + "/part.txt";
    Result r = tavrin("-part:2 -encoding:base64 -file:" + out);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string data = fixtures::slurp(dir + "/seeds/expected/data.bin");
    EXPECT_NE(fixtures::slurp(out).find(data), std::string::npos);
}

TEST_F(Imap, FoldersCopyMoveAndDeletion)
{
    seed({"plain", "mixed", "utf8"});
    Result created = tavrin("-create:Archive");
    ASSERT_EQ(created.status, 0) << created.err;
    Result listed = tavrin("-list:*");
    EXPECT_NE(listed.out.find("Archive\r\n"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("INBOX\r\n"), std::string::npos) << listed.out;

    ASSERT_EQ(tavrin("-msg:1 -copy:Archive -br").status, 0);
    ASSERT_EQ(tavrin("-msg:2 -move:Archive -br").status, 0);
    EXPECT_EQ(remaining("u", "Archive"), seeds_but({3, 4, 5}));
    // flags() goes by subject line: the UTF-8 one (encoded), plain, report.
    std::vector<std::string> f = flags();
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[1].find('T'), std::string::npos) << "the copied message stays as it was";
    EXPECT_NE(f[2].find('T'), std::string::npos) << "the moved message is marked deleted";

    // Marked, unmarked, then expunged with what the move marked.
    ASSERT_EQ(tavrin("-msg:3 -rm").status, 0);
    EXPECT_NE(flags()[0].find('T'), std::string::npos);
    ASSERT_EQ(tavrin("-msg:3 -unrm").status, 0);
    EXPECT_EQ(flags()[0].find('T'), std::string::npos);
    ASSERT_EQ(tavrin("-msg:1 -rm -purge").status, 0);
    EXPECT_EQ(remaining(), seeds_but({1, 2, 4, 5}));

    ASSERT_EQ(tavrin("-delete:Archive").status, 0);
    Result again = tavrin("-delete:Archive");
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err.rfind("IMAP delete folder failed\r\n", 0), 0u) << again.err;
    EXPECT_EQ(tavrin("-list:*").out.find("Archive"), std::string::npos);
}

TEST_F(Imap, SubscriptionsShowInLsub)
{
    ImapClient client;
    client.timeout = 20;
    ASSERT_GT(client.open_connection("127.0.0.1", imap.c_str(), nullptr, 0), 0);
    ASSERT_EQ(client.login("u", "secret"), 1);
    ASSERT_EQ(client.create_mailbox("Sub Folder"), 1);
    ASSERT_EQ(client.subscribe_mailbox("Sub Folder"), 1);
    client.disconnect();
    Result lsub = tavrin("-lsub:*");
    EXPECT_NE(lsub.out.find("Sub Folder\r\n"), std::string::npos) << lsub.out;
    ASSERT_GT(client.open_connection("127.0.0.1", imap.c_str(), nullptr, 0), 0);
    ASSERT_EQ(client.login("u", "secret"), 1);
    EXPECT_EQ(client.unsubscribe_mailbox("Sub Folder"), 1);
    EXPECT_EQ(client.delete_mailbox("Sub Folder"), 1);
    client.disconnect();
    EXPECT_EQ(tavrin("-lsub:*").out.find("Sub Folder"), std::string::npos);
}

TEST_F(Imap, AccessControlListsBetweenTwoUsers)
{
    ASSERT_EQ(tavrin("-create:Shared").status, 0);
    Result set = tavrin("-mbox:Shared -setacl:v:lr");
    ASSERT_EQ(set.status, 0) << set.err;
    Result get = tavrin("-mbox:Shared -getacl");
    EXPECT_NE(get.out.find("v lr\r\n"), std::string::npos) << get.out;
    Result mine = tavrin("-mbox:Shared -myrights");
    EXPECT_NE(mine.out.find("lr"), std::string::npos) << mine.out;
    Result rights = tavrin("-mbox:Shared -listrights:v");
    EXPECT_EQ(rights.status, 0) << rights.err;
    EXPECT_FALSE(rights.out.empty());
    Result v_list = tavrin("-list:*", "-user:v -pass:other");
    EXPECT_NE(v_list.out.find("shared.u.Shared\r\n"), std::string::npos) << v_list.out;
    // v may read the folder, not hand out rights on it.
    Result refused = tavrin("-mbox:shared.u.Shared -setacl:v:lrw", "-user:v -pass:other");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err.rfind("IMAP operation failed\r\n", 0), 0u) << refused.err;
    ASSERT_EQ(tavrin("-mbox:Shared -deleteacl:v").status, 0);
    EXPECT_EQ(tavrin("-mbox:Shared -getacl").out.find("v lr"), std::string::npos);
    ASSERT_EQ(tavrin("-delete:Shared").status, 0);
}

TEST_F(Imap, LoginsAndEncryptedConnections)
{
    seed({"plain"});
    const struct {
        const char* args;
        const char* shows;
    } cases[] = {
        {"-v:2", "AUTHENTICATE PLAIN\r\n"},
        {"-crammd5 -v:2", "AUTHENTICATE CRAM-MD5\r\n"},
        {"-tls -v:2", "STARTTLS\r\n"},
        {"-ssl -v:2", "* OK"},
    };
    for (const auto& c : cases) {
        Result r = tavrin(c.args);
        EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
        EXPECT_NE(r.out.find(c.shows), std::string::npos) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find("Hello there."), std::string::npos) << c.args;
    }
    Result wrong = run_command_line(std::string("TAVRIN_SOURCE_ADDRESS=127.0.0.6 LD_PRELOAD=") + TAVRIN_SOURCE_SHIM +
                                    " " + TAVRIN_BINARY + " -imap -host:127.0.0.1 -port:" + imap +
                                    " -user:u -pass:wrong -tmo:20");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err.rfind("Could not log in as 'u' to: 127.0.0.1:" + imap + "\r\n", 0), 0u) << wrong.err;
}

TEST_F(Imap, ALoginReferralIsFollowed)
{
    seed({"plain"});
    Result r = tavrin("-v:2", "-user:ref -pass:secret");
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("[REFERRAL "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Hello there."), std::string::npos) << r.out;
}

TEST_F(Imap, IdleIsWokenByADelivery)
{
    seed({});
    // The run's report is read as it comes: the message is dropped in only
    // once the server has taken the IDLE.
    std::string command = "cd " + work + " && " + TAVRIN_BINARY + " -imap -host:127.0.0.1 -port:" + imap +
                          " -user:u -pass:secret -idle:30 -tmo:40 -v:2 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string report;
    char line[4096];
    bool idling = false;
    while (std::fgets(line, sizeof line, p)) {
        report += line;
        if (!idling && std::string(line).rfind("+ ", 0) == 0 && report.find(" IDLE\r\n") != std::string::npos) {
            idling = true;
            std::string file = maildir("u") + "/new/1800000000.M1P1.idle";
            std::system(("cp " + dir + "/seeds/plain.eml " + file + " && chown 5000:5000 " + file).c_str());
        }
    }
    int status = pclose(p);
    EXPECT_TRUE(idling) << report;
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find("DONE\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find("There are 1 messages waiting"), std::string::npos) << report;
    EXPECT_NE(report.find("Hello there."), std::string::npos) << report;
}

TEST_F(Imap, ScriptFunctionsWithTheImapFlag)
{
    seed_all();
    std::string zebhost = std::string(TAVRIN_ZEBHOST) + " " + TAVRIN_LIBRARY;
    std::string init = "'kinit(\"127.0.0.1\",\"\",\"u\",\"secret\",\"" + imap + "\")'";
    Result got = run_command_line("cd " + work + " && " + zebhost + " " + init +
                                  " 'kgetmail(\"2\",\"\",\"\",\"INBOX\",\"4\")' 'kmanageimap4(\"create\",\"Box\")'"
                                  " 'kmanageimap4(\"delete\",\"Box\")' 'kmanageimap4(\"delete\",\"Box\")'");
    EXPECT_NE(got.out.find("1. report with files\r\n"), std::string::npos) << got.out << got.err;
    EXPECT_TRUE(got.out.size() > 6 && got.out.compare(got.out.size() - 6, 6, "1\n1\n0\n") == 0) << got.out;
}

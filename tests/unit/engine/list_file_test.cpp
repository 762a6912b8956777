// The list server's pieces that need no mail: the list file read and
// written back, the names a fetch request may use, the file index, what a
// failure report says, and which senders may get a reply.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../../support/file_text.h"
#include "base/text_stream.h"
#include "engine/failure_report.h"
#include "engine/fetch_folder.h"
#include "engine/list_file.h"
#include "engine/list_server.h"

namespace {

using Kind = SubscriberList::Kind;

SubscriberList parsed(const std::string& text)
{
    SubscriberList list;
    list.parse(text.data(), text.size());
    return list;
}

class ListFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char t[] = "/tmp/tavrin-list-XXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        dir = t;
        error_stream.clear();
    }
    void TearDown() override { std::system(("chmod -R u+w " + dir + "; rm -rf " + dir).c_str()); }
    void write(const std::string& name, const std::string& text) const
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }
    // How many names the folder holds.
    int files_in_folder() const
    {
        std::string cmd = "test $(ls -A " + dir + " | wc -l) -eq ";
        for (int n = 0; n < 10; ++n)
            if (std::system((cmd + std::to_string(n)).c_str()) == 0) return n;
        return -1;
    }
    std::string dir;
};

}  // namespace

TEST(SubscriberList, LinesBecomeEntriesAndEveryOtherLineIsKept)
{
    const std::string file =
        "# members of the list\r\n"           // a comment
        "ann@test.example\r\n"
        "#bob@test.example\n"                  // left the list
        "\"Smith, Carl\" <carl@test.example>, dora@test.example\r\n"
        "\\not read\r\n"
        "\r\n"
        "#\r\n"
        "# eve@test.example\r\n"               // a blank after '#': a comment
        "hal@test.example, #ida@test.example\r\n"  // each entry is what it will be on its own line
        "Fay (the editor) <fay@test.example>";  // no line end
    SubscriberList list = parsed(file);
    std::vector<std::pair<std::string, Kind>> got;
    for (const auto& e : list.entries()) got.emplace_back(e.text, e.kind);
    std::vector<std::pair<std::string, Kind>> want = {
        {"# members of the list", Kind::other},
        {"ann@test.example", Kind::subscriber},
        {"#bob@test.example", Kind::unsubscribed},
        {"\"Smith, Carl\" <carl@test.example>", Kind::subscriber},
        {"dora@test.example", Kind::subscriber},
        {"\\not read", Kind::other},
        {"", Kind::other},
        {"#", Kind::other},
        {"# eve@test.example", Kind::other},
        {"hal@test.example", Kind::subscriber},
        {"#ida@test.example", Kind::unsubscribed},
        {"Fay (the editor) <fay@test.example>", Kind::subscriber},
    };
    EXPECT_EQ(got, want);
    EXPECT_EQ(list.recipients("dora@TEST.example"),
              "ann@test.example,carl@test.example,hal@test.example,fay@test.example");
    // Written back: every line where it was, one entry a line.
    EXPECT_EQ(list.file_text(),
              "# members of the list\r\nann@test.example\r\n#bob@test.example\r\n"
              "\"Smith, Carl\" <carl@test.example>\r\ndora@test.example\r\n\\not read\r\n\r\n#\r\n"
              "# eve@test.example\r\nhal@test.example\r\n#ida@test.example\r\nFay (the editor) <fay@test.example>\r\n");
}

TEST(SubscriberList, AddressesAreComparedWholeAndWithoutCase)
{
    SubscriberList list = parsed("joann@test.example\r\nann@test.example.org\r\n#ann@other.example\r\n");
    EXPECT_FALSE(list.is_subscriber("ann@test.example"));
    EXPECT_FALSE(list.is_subscriber("ann@other.example")) << "one who left is no subscriber";
    EXPECT_FALSE(list.unsubscribe("ann@test.example"));
    EXPECT_FALSE(list.is_subscriber(""));

    EXPECT_TRUE(list.subscribe("ann@test.example"));
    EXPECT_TRUE(list.is_subscriber("ANN@Test.Example"));
    EXPECT_FALSE(list.subscribe("Ann@test.EXAMPLE")) << "already there";
    EXPECT_TRUE(list.subscribe("ann@OTHER.example"));  // "#ann@other.example" comes back in its place
    EXPECT_EQ(list.file_text(),
              "joann@test.example\r\nann@test.example.org\r\nann@other.example\r\nann@test.example\r\n");

    EXPECT_TRUE(list.unsubscribe("ANN@test.example"));
    EXPECT_FALSE(list.unsubscribe("ann@test.example")) << "a second time changes nothing";
    EXPECT_EQ(list.file_text(),
              "joann@test.example\r\nann@test.example.org\r\nann@other.example\r\n#ann@test.example\r\n");
}

TEST(SubscriberList, LeavingAndComingBackKeepTheEntry)
{
    SubscriberList list = parsed("  Ann Smith <ann@test.example>  \r\nann@test.example\r\n");
    EXPECT_TRUE(list.unsubscribe("ann@test.example"));  // every entry of the address
    EXPECT_EQ(list.file_text(), "#Ann Smith <ann@test.example>\r\n#ann@test.example\r\n");
    // What was written reads back the same.
    SubscriberList again = parsed(list.file_text());
    EXPECT_EQ(again.recipients(""), "");
    EXPECT_TRUE(again.subscribe("ann@test.example"));
    EXPECT_EQ(again.file_text(), "Ann Smith <ann@test.example>\r\n#ann@test.example\r\n");
}

TEST(SubscriberList, AddressesWithControlCharactersAreNoRecipients)
{
    SubscriberList list = parsed(std::string("ann@test.example\rRCPT TO:x@test.example\r\nbob@test.example\r\n"));
    EXPECT_EQ(list.recipients(""), "bob@test.example");
}

TEST_F(ListFolder, LongLinesAreReadAndWrittenWhole)
{
    std::string huge(100000, 'x');
    write("list.txt", "#" + huge + "\r\nann@test.example\r\n" + huge + "@test.example\r\n");
    SubscriberList list;
    ASSERT_TRUE(list.read((dir + "/list.txt").c_str()));
    ASSERT_EQ(list.entries().size(), 3u);
    EXPECT_TRUE(list.is_subscriber(huge + "@test.example"));
    EXPECT_TRUE(list.unsubscribe("ann@test.example"));
    ASSERT_TRUE(write_list_file(list, (dir + "/list.txt").c_str()));
    EXPECT_EQ(slurp(dir + "/list.txt"), "#" + huge + "\r\n#ann@test.example\r\n" + huge + "@test.example\r\n");
}

TEST_F(ListFolder, TheListIsReplacedWholeOrNotAtAll)
{
    std::string path = dir + "/list.txt";
    write("list.txt", "ann@test.example\r\n");
    chmod(path.c_str(), 0640);
    SubscriberList list = parsed("bob@test.example\r\n");
    ASSERT_TRUE(write_list_file(list, path.c_str()));
    EXPECT_EQ(slurp(path), "bob@test.example\r\n");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the mode stays";
    EXPECT_EQ(files_in_folder(), 1) << "no temporary file stays behind";

    // Through a link: the file it points to is replaced, the link stays.
    ASSERT_EQ(symlink(path.c_str(), (dir + "/link.txt").c_str()), 0);
    ASSERT_TRUE(write_list_file(parsed("carl@test.example\r\n"), (dir + "/link.txt").c_str()));
    EXPECT_EQ(slurp(path), "carl@test.example\r\n");
    struct stat link;
    ASSERT_EQ(lstat((dir + "/link.txt").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));

    // A list that cannot be written leaves the old one and says so.
    EXPECT_FALSE(write_list_file(list, (dir + "/missing/list.txt").c_str()));
    EXPECT_NE(error_stream.contents().find("Could not write list file: '" + dir + "/missing/list.txt': "),
              std::string::npos)
        << error_stream.contents();
    EXPECT_EQ(slurp(path), "carl@test.example\r\n");

    // A file that is there but cannot be read is no empty list.
    SubscriberList unread;
    EXPECT_FALSE(unread.read(dir.c_str()));
    EXPECT_TRUE(unread.read((dir + "/not-there.txt").c_str()));
    EXPECT_TRUE(unread.entries().empty());
}

TEST(FetchRequest, NamesOutsideTheFetchFolderAreRefused)
{
    const struct {
        const char* subject;
        const char* name;
        bool refused;
    } cases[] = {
        {"fetch notes.txt", "notes.txt", false},
        {"GET  notes.txt  please", "notes.txt", false},
        {"fetch", "", false},
        {"get ", "", false},
        {"fetch ../list.txt", "../list.txt", true},
        {"fetch notes.txt ..", "notes.txt", true},  // ".." anywhere in the subject
        {"get a..b", "a..b", true},
        {"fetch a/b", "a/b", true},
        {"fetch /etc/passwd", "/etc/passwd", true},
        {"fetch sub\\x.txt", "sub\\x.txt", true},
        {"fetch C:\\boot.ini", "C:\\boot.ini", true},
    };
    for (const auto& c : cases) {
        FetchRequest r = fetch_request(c.subject);
        EXPECT_EQ(r.name, c.name) << c.subject;
        EXPECT_EQ(r.refused, c.refused) << c.subject;
    }
    EXPECT_FALSE(fetch_request("fetch " + std::string(1023, 'n')).refused);
    EXPECT_TRUE(fetch_request("fetch " + std::string(1024, 'n')).refused) << "longer than a name may be";
}

TEST_F(ListFolder, TheIndexListsThePlainFilesWithTheirSizes)
{
    write("small.txt", "hello");
    write("big.bin", std::string(5000, 'b'));
    mkdir((dir + "/folder").c_str(), 0755);
    std::string text = file_index_text(dir);
    ASSERT_EQ(text.rfind("FILE INDEX:\r\n\r\n", 0), 0u) << text;
    ASSERT_EQ(text.substr(text.size() - 4), "\r\n\r\n") << text;
    EXPECT_EQ(text.find("folder"), std::string::npos) << "folders are not listed";
    for (const auto& f : {std::make_pair(std::string("small.txt"), "       0K   "),
                          std::make_pair(std::string("big.bin"), "       4K   ")}) {
        size_t full = dir.size() + 1 + f.first.size();
        std::string start = f.first + " " + std::string(full < 50 ? 50 - full : 0, '.') + " " + f.second;
        size_t at = text.find(start);
        ASSERT_NE(at, std::string::npos) << start << "\n" << text;
        // The time as ctime writes it: "Thu Dec 10 10:00:00 2026".
        size_t end = text.find("\r\n", at);
        EXPECT_EQ(end - at - start.size(), 24u) << text.substr(at, end - at);
    }
}

TEST(FailureReport, WhatTheReportSays)
{
    const struct {
        const char* text;
        bool has_action, failed;
        const char* recipient;
    } cases[] = {
        {"Final-Recipient: rfc822; bob@test.example\r\nAction: failed\r\n", true, true, "bob@test.example"},
        {"final-recipient: RFC822;bob@test.example  \r\naction:   FAILED\r\n", true, true, "bob@test.example"},
        {"Action: failed\nFinal-Recipient: Bob <bob@test.example>\n", true, true, "bob@test.example"},
        {"Action: delayed\r\nFinal-Recipient: rfc822; bob@test.example\r\n", true, false, "bob@test.example"},
        {"Action: failed\r\n", true, true, ""},
        {"Action: failed\r\nFinal-Recipient: rfc822;\r\nStatus: 5.1.1\r\n", true, true, ""},
        {"Your message could not be delivered.\r\n", false, false, ""},
    };
    for (const auto& c : cases) {
        FailureReport r = read_failure_report(c.text);
        EXPECT_EQ(r.has_action, c.has_action) << c.text;
        EXPECT_EQ(r.failed, c.failed) << c.text;
        EXPECT_EQ(r.recipient, c.recipient) << c.text;
    }
    EXPECT_TRUE(is_failure_report("Undeliverable: hello", "x@test.example"));
    EXPECT_TRUE(is_failure_report("returned mail: see transcript", "x@test.example"));
    EXPECT_TRUE(is_failure_report("hello", "Mail Delivery Subsystem <postmaster@test.example>"));
    EXPECT_TRUE(is_failure_report("Undelivered Mail Returned to Sender", "mailer-daemon@test.example"));
    EXPECT_FALSE(is_failure_report("Undelivered Mail Returned to Sender", "ann@test.example"));
}

TEST(ListSenders, OnlyOnePlainAddressGetsAReply)
{
    for (const char* ok : {"ann@test.example", "ann.smith+list@mail.test.example"})
        EXPECT_TRUE(plain_address(ok)) << ok;
    for (const char* bad : {"", "ann", "[unknown]", "ann@localhost", "ann@test.example, eve@test.example",
                            "ann@test.example eve@test.example", "ann@test.example\r\nRCPT TO:<eve@test.example>",
                            "../../etc/passwd", "/tmp/x@test.example", "a/b@test.example", "|cmd@test.example",
                            "#ann@test.example", "!ann@test.example", "\\ann@test.example", "ann@@test.example",
                            "\"ann\"@test.example", "ann@[127.0.0.1]"})
        EXPECT_FALSE(plain_address(bad)) << bad;
    EXPECT_FALSE(plain_address(std::string(250, 'a') + "@test.example")) << "longer than an address may be";
    EXPECT_EQ(without_controls("a\r\nb\tc\x7f", 7), "a  b c ");
}

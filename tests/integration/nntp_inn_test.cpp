// Posting news to INN: the fixture's server checked on its own through a
// small reader, then tavrin's news transport ("-news") posting to it, each
// article read back from the server as a reader sees it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../support/command.h"
#include "../support/fixtures.h"
#include "../support/loopback_peer.h"
#include "../support/news_reader.h"

namespace {

using Result = CommandResult;

const char* const innd = "/usr/lib/news/bin/innd";

class NntpInn : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (::access(innd, X_OK) != 0) return;
        dir = fixtures::temp_folder();
        port = closed_port();
        std::string cmd = fixtures::script("news_server") + " start " + dir + " " + port +
                          " u:secret w:other test.one test.two test.three test.files";
        started = std::system((cmd + " >" + dir + "/fixture.log 2>&1").c_str()) == 0;
    }
    static void TearDownTestSuite()
    {
        if (dir.empty()) return;
        std::system((fixtures::script("news_server") + " stop " + dir).c_str());
        std::system(("rm -rf " + dir).c_str());
        dir.clear();
    }
    void SetUp() override
    {
        if (::access(innd, X_OK) != 0) {
            if (fixtures::in_ci()) FAIL() << "INN is not installed (tools/setup installs it)";
            GTEST_SKIP() << "INN is not installed here: skipped";
        }
        ASSERT_TRUE(started) << fixtures::slurp(dir + "/fixture.log");
        work = fixtures::temp_folder();
    }
    void TearDown() override
    {
        if (!work.empty()) std::system(("rm -rf " + work).c_str());
    }

    static Result tavrin(const std::string& args)
    {
        return run_command_line(std::string(TAVRIN_BINARY) + " -news -host:127.0.0.1 -port:" + port +
                                " -from:me@test.example " + args + " -tmo:20");
    }
    // The highest article number of a group, as an anonymous reader sees it.
    static long high(const std::string& group)
    {
        NewsReader r(port);
        r.command("MODE READER");
        return r.group(group).high;
    }
    // The articles of group numbered above after, waiting up to ten seconds
    // for count of them; read anonymously.
    static std::vector<std::string> articles_after(const std::string& group, long after, size_t count = 1)
    {
        std::vector<std::string> got;
        for (int i = 0; i < 100; ++i) {
            NewsReader r(port);
            r.command("MODE READER");
            NewsReader::Group g = r.group(group);
            got.clear();
            for (long n = after + 1; n <= g.high; ++n) got.push_back(r.article(std::to_string(n)));
            if (got.size() >= count) break;
            LoopbackPeer::pause_ms(100);
        }
        return got;
    }
    std::string write_file(const std::string& name, const std::string& text) const
    {
        std::string path = work + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::string work;
    static std::string dir, port;
    static bool started;
};

std::string NntpInn::dir, NntpInn::port;
bool NntpInn::started = false;

}  // namespace

// What INN 2.7 answers here: POST before AUTHINFO 480 ("Posting not
// allowed"; 440 has been seen with other reader configurations), a wrong
// password 481, the right one 281, POST 340 with a recommended Message-ID,
// the article 240.
TEST_F(NntpInn, FixtureTakesPostsOnlyAfterAuthinfoAndServesThemBack)
{
    NewsReader r(port);
    ASSERT_EQ(r.greeting().rfind("200 ", 0), 0u) << r.greeting();  // nnrpd, not the feeder protocol
    EXPECT_NE(r.greeting().find("NNRP"), std::string::npos) << r.greeting();
    r.command("MODE READER");
    std::string anonymous = r.command("POST");
    EXPECT_TRUE(anonymous.rfind("480", 0) == 0 || anonymous.rfind("440", 0) == 0) << anonymous;
    EXPECT_EQ(r.login("u", "wrong").substr(0, 3), "481");
    EXPECT_EQ(r.login("u", "secret").substr(0, 3), "281");

    long before = high("test.two");
    std::string article =
        "From: fixture@test.example\r\nNewsgroups: test.two\r\nSubject: fixture check\r\n\r\n"
        ".a line with a dot\r\n.\r\n..\r\nlast\r\n";
    std::string first;
    std::string posted = r.post(article, &first);
    EXPECT_EQ(first.substr(0, 3), "340") << first;
    ASSERT_EQ(posted.substr(0, 3), "240") << posted;
    std::string id = posted.substr(posted.find('<'), posted.find('>') - posted.find('<') + 1);

    std::vector<std::string> got = articles_after("test.two", before);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(news::body(got[0]), ".a line with a dot\r\n.\r\n..\r\nlast\r\n");
    NewsReader anon(port);
    anon.command("MODE READER");
    EXPECT_EQ(anon.article(id), got[0]) << "by message-id";
}

TEST_F(NntpInn, PostsOneArticleWithEveryGroupOfToAndCcInOneLine)
{
    long before[3] = {high("test.one"), high("test.two"), high("test.three")};
    Result r = tavrin("-user:u -pass:secret -to:test.one,test.two -cc:test.three -s:Subject -msg:Text");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("Sent ", 0), 0u) << r.out;

    std::vector<std::string> got = articles_after("test.one", before[0]);
    ASSERT_EQ(got.size(), 1u);
    const std::string& a = got[0];
    EXPECT_EQ(news::header_lines(a, "Newsgroups"),
              std::vector<std::string>{"Newsgroups: test.one,test.two,test.three"})
        << news::head(a);
    EXPECT_EQ(news::header_lines(a, "Subject"), std::vector<std::string>{"Subject: Subject"});
    EXPECT_EQ(news::header_lines(a, "From"), std::vector<std::string>{"From: me@test.example"});
    for (const char* none : {"To", "Cc", "X-no-archive"})
        EXPECT_TRUE(news::header_lines(a, none).empty()) << none << "\n" << news::head(a);
    EXPECT_EQ(news::body(a), "Text\r\n");
    // One article, filed in all three groups.
    EXPECT_EQ(high("test.one"), before[0] + 1);
    EXPECT_EQ(high("test.two"), before[1] + 1);
    EXPECT_EQ(high("test.three"), before[2] + 1);
}

TEST_F(NntpInn, NoarchiveAddsItsHeaderAndCountPostsEachCopy)
{
    long before = high("test.one");
    Result r = tavrin("-user:u -pass:secret -to:test.one -s:Kept -msg:Text -noarchive -cnt:2");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> got = articles_after("test.one", before, 2);
    ASSERT_EQ(got.size(), 2u) << r.out;
    for (const std::string& a : got) {
        EXPECT_EQ(news::header_lines(a, "X-no-archive"), std::vector<std::string>{"X-no-archive: yes"})
            << news::head(a);
        EXPECT_EQ(news::header_lines(a, "Subject"), std::vector<std::string>{"Subject: Kept"});
        EXPECT_EQ(news::body(a), "Text\r\n");
    }
    EXPECT_NE(news::header_lines(got[0], "Message-ID"), news::header_lines(got[1], "Message-ID"));
}

TEST_F(NntpInn, BodyLinesWithDotsAndEqualSignsArriveAsWritten)
{
    // Lines a missing dot-stuffing would eat or end the article at, and
    // text that quoted-printable (off for news) would change.
    std::string text = ".starts with a dot\n.\n..\n...three\nmiddle\nx=1 and =3D stay\n.\nlast line\n";
    std::string file = write_file("body.txt", text);
    long before = high("test.two");
    Result r = tavrin("-user:u -pass:secret -to:test.two -s:Dots -file:" + file);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> got = articles_after("test.two", before);
    ASSERT_EQ(got.size(), 1u);
    // The body writer ends every body with a line end of its own, so a file
    // that ends with one gets an empty last line.
    EXPECT_EQ(news::body(got[0]),
              ".starts with a dot\r\n.\r\n..\r\n...three\r\nmiddle\r\nx=1 and =3D stay\r\n.\r\nlast line\r\n\r\n");
    EXPECT_TRUE(news::header_lines(got[0], "Content-Transfer-Encoding").empty() ||
                news::header_lines(got[0], "Content-Transfer-Encoding")[0].find("quoted") == std::string::npos)
        << news::head(got[0]);
}

TEST_F(NntpInn, AttachmentArrivesByteForByte)
{
    std::string data;
    for (int i = 0; i < 5000; ++i) data += static_cast<char>((i * 37 + i / 7) & 0xff);
    std::string file = write_file("data.bin", data);
    long before = high("test.files");
    Result r = tavrin("-user:u -pass:secret -to:test.files -s:Files -msg:See -a:" + file);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> got = articles_after("test.files", before);
    ASSERT_EQ(got.size(), 1u);
    std::string article = write_file("article.eml", got[0]);
    Result tree = run_command_line("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) +
                                   "/tests/support/mime_tree.py " + article + " " + work);
    ASSERT_EQ(tree.status, 0) << tree.err;
    EXPECT_NE(tree.out.find("name=data.bin"), std::string::npos) << tree.out;
    EXPECT_EQ(fixtures::slurp(work + "/part-1"), "See\n") << tree.out;
    EXPECT_EQ(fixtures::slurp(work + "/part-2"), data) << tree.out;
}

TEST_F(NntpInn, RefusedPostsAndLoginsFailWithTheServersReply)
{
    const struct {
        const char* account;
        const char* says;
    } cases[] = {
        {"", "Could not send: "},  // no AUTHINFO at all: the POST is refused
        {"-user:u", "Login failed: 501"},  // no password: INN finds "AUTHINFO PASS " malformed
        {"-user:u -pass:wrong", "Login failed: 481"},
        {"-user:nobody -pass:secret", "Login failed: 481"},
    };
    long before = high("test.three");
    for (const auto& c : cases) {
        Result r = tavrin(std::string(c.account) + " -to:test.three -s:Refused -msg:Text");
        EXPECT_EQ(r.status, 1) << c.account << ": " << r.out;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.account << ": " << r.err;
        EXPECT_EQ(r.out.find("Sent "), std::string::npos) << c.account << ": " << r.out;
        if (!*c.account) {  // the refusal itself is shown
            EXPECT_TRUE(r.err.find("Status: 480") != std::string::npos || r.err.find("Status: 440") != std::string::npos)
                << r.err;
        }
    }
    EXPECT_EQ(high("test.three"), before) << "nothing was posted";
}

TEST_F(NntpInn, GroupsLoseTheirBlanksBccStaysOutAndTheMeterEndsAt100)
{
    long before[3] = {high("test.one"), high("test.two"), high("test.three")};
    std::string meter = work + "/meter.txt";
    Result r = tavrin("-user:u -pass:secret \"-to:test.one, test.two\" -bcc:test.three -s:Details -msg:Text -meter:" +
                      meter);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> got = articles_after("test.one", before[0]);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(news::header_lines(got[0], "Newsgroups"), std::vector<std::string>{"Newsgroups: test.one,test.two"})
        << news::head(got[0]);
    EXPECT_EQ(high("test.two"), before[1] + 1);
    EXPECT_EQ(high("test.three"), before[2]) << "a bcc group gets nothing";
    EXPECT_EQ(fixtures::slurp(meter), "100\r\n");
}

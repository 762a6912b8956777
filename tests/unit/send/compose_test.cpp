// Composed messages, written with "-mf" and read back by Python's email
// package: structure, decoded parts byte for byte, headers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "platform/paths.h"
#include "send/html_to_text.h"
#include "send/tp_client.h"
#include "../../support/command.h"
#include "../../support/file_text.h"

namespace {

using Outcome = CommandResult;

Outcome shell(const std::string& command) { return run_command_line(command); }

class Compose : public ::testing::Test {
protected:
    void SetUp() override
    {
        char t[] = "/tmp/tvmfXXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        dir = t;
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

    std::string path(const std::string& name) const { return dir + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    std::string random_bytes(size_t n, unsigned seed = 1) const
    {
        std::mt19937 rng(seed);
        std::string s(n, '\0');
        for (char& c : s) c = static_cast<char>(rng());
        return s;
    }
    // tavrin with the arguments (each in single quotes) writing to OUT.
    Outcome tavrin(const std::vector<std::string>& args, const std::string& stdin_text = "") const
    {
        std::string cmd = std::string(TAVRIN_BINARY);
        for (const std::string& a : args) cmd += " '" + a + "'";
        if (!stdin_text.empty()) {
            std::ofstream(path("stdin.txt"), std::ios::binary) << stdin_text;
            cmd += " < " + path("stdin.txt");
        } else {
            cmd += " < /dev/null";
        }
        return shell(cmd);
    }
    // The description of a message file by Python's email package.
    std::string tree(const std::string& message) const
    {
        return shell("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) + "/tests/support/mime_tree.py " +
                     message + " " + dir)
            .out;
    }
    // The tree with its boundary values replaced by B1, B2 ... in order.
    static std::string without_boundaries(const std::string& text, std::set<std::string>* seen = nullptr)
    {
        std::string out;
        std::istringstream lines(text);
        std::string line;
        int n = 0;
        while (std::getline(lines, line)) {
            size_t at = line.find("boundary=");
            if (at != std::string::npos) {
                size_t end = line.find(' ', at);
                if (seen) seen->insert(line.substr(at + 9, end - at - 9));
                line = line.substr(0, at) + "boundary=B" + std::to_string(++n) +
                       (end == std::string::npos ? "" : line.substr(end));
            }
            out += line + "\n";
        }
        return out;
    }

    std::string dir;
};

const char* const common[] = {"-from:me@test.example", "-to:you@test.example", "-s:Test"};

std::vector<std::string> with_common(std::vector<std::string> args)
{
    args.insert(args.begin(), std::begin(common), std::end(common));
    return args;
}

}  // namespace

TEST_F(Compose, HtmlAlternativeRelatedAndAttachmentNestAndDecode)
{
    write("page.html", "<html><body><p>Hello&nbsp;<b>you</b></p><img src=\"cid:logo\"></body></html>");
    write("logo.png", random_bytes(700, 2));
    write("data.bin", random_bytes(5000, 3));
    Outcome r = tavrin(with_common({"-mf", "-host:" + path("out.eml"), "-file:" + path("page.html"), "-html", "-alt",
                                "-i:" + path("logo.png") + "|cid:logo", "-a:" + path("data.bin")}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Sent ", 0), 0u);
    std::set<std::string> boundaries;
    std::string t = without_boundaries(tree(path("out.eml")), &boundaries);
    EXPECT_EQ(t.substr(t.find("multipart/mixed")),
              "multipart/mixed boundary=B1\n"
              "  multipart/alternative boundary=B2\n"
              "    text/plain cte=quoted-printable part-1\n"
              "    multipart/related boundary=B3\n"
              "      text/html cte=quoted-printable part-2\n"
              "      image/png name=logo.png cid=<logo> cte=base64 part-3\n"
              "  application/octet-stream name=data.bin cte=base64 part-4\n");
    EXPECT_EQ(boundaries.size(), 3u);
    // Python gives text parts with LF line ends; a text part ends with the
    // line end that precedes its boundary.
    EXPECT_EQ(slurp(path("part-1")), "\n\nHello YOU\n\nIMAGE cid:logo\n\n\n");
    EXPECT_EQ(slurp(path("part-2")), slurp(path("page.html")) + "\n");
    EXPECT_EQ(slurp(path("part-3")), slurp(path("logo.png")));
    EXPECT_EQ(slurp(path("part-4")), slurp(path("data.bin")));
}

TEST_F(Compose, AttachmentsDecodeByteForByteInEveryEncoding)
{
    write("notes.txt", "first line\n.starts with a dot\ncaf\xe9 = au lait\nlast");
    write("data.bin", random_bytes(100000, 4));
    Outcome r = tavrin(with_common({"-mf", "-host:" + path("out.eml"), "-msg:body", "-a:" + path("notes.txt"),
                                "-a:" + path("data.bin")}));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string t = tree(path("out.eml"));
    EXPECT_NE(t.find("text/plain name=notes.txt cte=quoted-printable part-2"), std::string::npos) << t;
    EXPECT_EQ(slurp(path("part-2")), "first line\n.starts with a dot\ncaf\xe9 = au lait\nlast");
    EXPECT_NE(slurp(path("out.eml")).find("first line\r\n=2Estarts with a dot\r\ncaf=E9 =3D au lait\r\nlast"),
              std::string::npos);
    EXPECT_EQ(slurp(path("part-3")), slurp(path("data.bin")));

    Outcome uu = tavrin(with_common({"-mf", "-host:" + path("uu.eml"), "-msg:body", "-uue", "-a:" + path("data.bin")}));
    ASSERT_EQ(uu.status, 0) << uu.err;
    std::string raw = slurp(path("uu.eml"));
    EXPECT_NE(raw.find("Content-Transfer-Encoding: X-UUencode\r\n\r\nbegin 644 data.bin\n"), std::string::npos);
    std::string ut = tree(path("uu.eml"));
    EXPECT_NE(ut.find("application/octet-stream name=data.bin cte=X-UUencode part-2"), std::string::npos) << ut;
    EXPECT_EQ(slurp(path("part-2")), slurp(path("data.bin")));  // 100000 bytes: no line starts with '.'

    write("fourteen.bin", "abcdefghijklmn");  // a last line of 14 bytes starts with '.', doubled
    Outcome dots = tavrin(with_common({"-mf", "-host:" + path("dots.eml"), "-msg:body", "-uue", "-a:" + path("fourteen.bin")}));
    ASSERT_EQ(dots.status, 0);
    EXPECT_NE(slurp(path("dots.eml")).find("begin 644 fourteen.bin\n..86)C9&5F9VAI:FML;6X`\n`\nend\n"),
              std::string::npos);
}

TEST_F(Compose, FolderAttachmentIsLeftOutLikeAMissingFile)
{
    ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
    Outcome missing = tavrin(with_common({"-mf", "-host:" + path("missing.eml"), "-msg:x", "-a:" + path("missing")}));
    Outcome folder = tavrin(with_common({"-mf", "-host:" + path("folder.eml"), "-msg:x", "-a:" + path("folder")}));
    EXPECT_EQ(missing.status, 0) << missing.err;
    EXPECT_EQ(folder.status, missing.status) << folder.err;
    EXPECT_EQ(folder.err, "WARNING: attachment '" + path("folder") + " does not exist! (" + std::to_string(EISDIR) +
                              ")\r\n");
    std::string t = tree(path("folder.eml"));
    EXPECT_EQ(t.find("multipart"), std::string::npos) << t;
    EXPECT_EQ(t, tree(path("missing.eml")));
}

TEST_F(Compose, EncodedHeadersAndRecipientRules)
{
    Outcome r = tavrin({"-mf", "-host:" + path("out.eml"), "-from:Jos\xe9 Ruiz <jose@test.example>",
                    "-to:a@test.example,\\b@test.example,!c@test.example", "-s:No. Caf\xe9", "-msg:x"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string raw = slurp(path("out.eml"));
    EXPECT_NE(raw.find("To: a@test.example,\r\n\tc@test.example\r\n"), std::string::npos) << raw;
    EXPECT_NE(raw.find("Subject: =?iso-8859-1?Q?No=2E=20Caf=E9?=\r\n"), std::string::npos);
    EXPECT_NE(raw.find("From: =?iso-8859-1?Q?Jos=E9=20Ruiz=20?=<jose@test.example>\r\n"), std::string::npos);
    std::string t = tree(path("out.eml"));
    EXPECT_NE(t.find("Subject: No. Caf\xc3\xa9"), std::string::npos) << t;  // decoded, shown as UTF-8
    EXPECT_NE(t.find("From: Jos\xc3\xa9 Ruiz "), std::string::npos) << t;  // the blank before '<' is encoded too

    Outcome hidden = tavrin({"-mf", "-host:" + path("hide.eml"), "-from:me@test.example",
                         "-to:a@test.example,b@test.example", "-hide", "-msg:x"});
    ASSERT_EQ(hidden.status, 0);
    EXPECT_EQ(slurp(path("hide.eml")).find("To:"), std::string::npos);
}

TEST_F(Compose, MimeTypesByExtension)
{
    for (const char* name : {"page.HTML", "scan.tiff", "README", "photo.gif"}) write(name, "content\n");
    Outcome r = tavrin(with_common({"-mf", "-host:" + path("out.eml"), "-msg:x", "-a:" + path("page.HTML"),
                                "-a:" + path("scan.tiff"), "-a:" + path("README")}));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string raw = slurp(path("out.eml"));
    EXPECT_NE(raw.find("Content-Type: text/html; name=\"page.HTML\"\r\n"), std::string::npos);
    EXPECT_NE(raw.find("Content-Type: image/tiff; name=\"scan.tiff\"\r\n"), std::string::npos);
    EXPECT_NE(raw.find("Content-Type: application/octet-stream; name=\"README\"; type=Binary\r\n"
                       "Content-Disposition: attachment; filename=\"README\"\r\n"
                       "Content-Transfer-Encoding: base64\r\n"),
              std::string::npos);
    Outcome text = tavrin(with_common({"-mf", "-host:" + path("text.eml"), "-msg:x", "-text", "-a:" + path("photo.gif")}));
    ASSERT_EQ(text.status, 0);
    EXPECT_NE(slurp(path("text.eml")).find("Content-Type: text/plain; name=\"photo.gif\"\r\n"), std::string::npos);
}

TEST_F(Compose, HeaderLinesAndPlainBodies)
{
    write("dots.txt", ".leading dot\nsecond\n");
    Outcome r = tavrin(with_common({"-mf", "-host:" + path("low.eml"), "-low", "-hdr:X-Tool: mine", "-mdn", "-qp:0",
                                    "-file:" + path("dots.txt")}));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string low = slurp(path("low.eml"));
    EXPECT_NE(low.find("X-Priority: 4 (Low)\r\n"), std::string::npos);
    EXPECT_NE(low.find("Importance: Low\r\n"), std::string::npos);
    EXPECT_NE(low.find("Disposition-Notification-To: me@test.example\r\n"), std::string::npos);
    EXPECT_EQ(low.find("X-Mailer"), std::string::npos);
    EXPECT_NE(low.find("X-Tool: mine\r\nX-Priority: 4 (Low)\r\n"), std::string::npos);
    EXPECT_NE(low.find("\r\n..leading dot\r\nsecond\r\n"), std::string::npos) << low;
    EXPECT_NE(low.find("Content-Transfer-Encoding: 7bit\r\n"), std::string::npos);
    EXPECT_NE(low.rfind("\r\n"), std::string::npos);
    EXPECT_EQ(low.find("\r\n.\r\n"), std::string::npos);  // the file gets no final "."

    Outcome raw = tavrin(with_common({"-mf", "-host:" + path("raw.eml"), "-raw", "-msg:Subject: as is\r\n\r\nbody"}));
    ASSERT_EQ(raw.status, 0);
    EXPECT_EQ(slurp(path("raw.eml")), "Subject: as is\r\n\r\nbody\r\n");
}

TEST_F(Compose, SendDriverChecksAndCounts)
{
    Outcome no_from = tavrin({"-mf", "-host:" + path("x.eml"), "-to:a@test.example", "-msg:x"});
    EXPECT_EQ(no_from.status, 1);
    EXPECT_EQ(no_from.err, "Missing from address\r\n");
    Outcome no_to = tavrin({"-mf", "-host:" + path("x.eml"), "-from:a@test.example", "-msg:x"});
    EXPECT_EQ(no_to.status, 1);
    EXPECT_EQ(no_to.err, "Missing to address\r\n");
    Outcome no_file = tavrin(with_common({"-mf", "-host:" + path("x.eml"), "-file:" + path("nope.txt")}));
    EXPECT_EQ(no_file.status, 1);
    EXPECT_EQ(no_file.err, "Missing data file: " + path("nope.txt") + "\r\n");

    Outcome three = tavrin(with_common({"-mf", "-host:" + path("three.eml"), "-cnt:3", "-msg:x"}));
    ASSERT_EQ(three.status, 0);
    size_t summaries = 0;
    for (size_t at = 0; (at = three.out.find("Sent ", at)) != std::string::npos; ++at) ++summaries;
    EXPECT_EQ(summaries, 3u);
    std::string all = slurp(path("three.eml"));
    size_t messages = 0;
    for (size_t at = 0; (at = all.find("From: me@test.example", at)) != std::string::npos; ++at) ++messages;
    EXPECT_EQ(messages, 3u);

    write("lf.txt", "one\ntwo\n");
    Outcome lf = tavrin(with_common({"-mf", "-host:" + path("lf.eml"), "-file:" + path("lf.txt")}));
    ASSERT_EQ(lf.status, 0);
    EXPECT_NE(slurp(path("lf.eml")).find("\r\n\r\none\r\ntwo\r\n"), std::string::npos);

    Outcome stdin_body = tavrin(with_common({"-mf", "-host:" + path("in.eml"), "-q"}), "typed\nlines\n");
    ASSERT_EQ(stdin_body.status, 0);
    EXPECT_EQ(stdin_body.out, "");  // -q: no prompt and no summary
    EXPECT_NE(slurp(path("in.eml")).find("\r\n\r\ntyped\r\nlines\r\n"), std::string::npos);
}

TEST_F(Compose, RemoveOnlyAfterASuccessfulSend)
{
    write("a.bin", "attachment");
    write("body.txt", "body");
    Outcome failed = tavrin(with_common({"-mf", "-host:" + path("no/such/folder/x.eml"), "-rm", "-file:" + path("body.txt"),
                                     "-a:" + path("a.bin")}));
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(std::ifstream(path("a.bin")).good());
    EXPECT_TRUE(std::ifstream(path("body.txt")).good());
    Outcome ok = tavrin(with_common({"-mf", "-host:" + path("ok.eml"), "-rm", "-file:" + path("body.txt"),
                                 "-a:" + path("a.bin")}));
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_FALSE(std::ifstream(path("a.bin")).good());
    EXPECT_FALSE(std::ifstream(path("body.txt")).good());
}

TEST_F(Compose, TrainModeSendsOneMessagePerFile)
{
    std::system(("mkdir -p " + path("in") + " " + path("out")).c_str());
    for (const char* name : {"one.txt", "two.txt", "three.txt"}) write(std::string("in/") + name, name);
    Outcome r = tavrin(with_common({"-mf", "-host:" + path("out"), "-port:eml", "-msg:x", "-train",
                                "-dir:" + path("in") + "/*.txt"}));
    ASSERT_EQ(r.status, 0) << r.err;
    Outcome listing = shell("ls " + path("out") + " | wc -l");
    EXPECT_EQ(listing.out, "3\n");
    Outcome attached = shell("grep -l 'Content-Disposition: attachment' " + path("out") + "/*.eml | wc -l");
    EXPECT_EQ(attached.out, "3\n");
    Outcome each_one = shell("grep -c 'Content-Disposition: attachment' " + path("out") + "/*.eml | grep -c ':1$'");
    EXPECT_EQ(each_one.out, "3\n");
}

TEST(MessageParts, DateOffsetsAndBoundaries)
{
    string west = message_date(0, 300);
    EXPECT_EQ(std::string(west.c_str()).substr(west.length() - 5), "-0500");
    string east = message_date(0, -60);
    EXPECT_EQ(std::string(east.c_str()).substr(east.length() - 5), "+0100");
    string india = message_date(0, -330);
    EXPECT_EQ(std::string(india.c_str()).substr(india.length() - 5), "+0530");
    string gmt = message_date(1, 0);
    EXPECT_EQ(std::string(gmt.c_str()).substr(gmt.length() - 4), " GMT");
    EXPECT_FALSE(make_boundary() == make_boundary());
}

TEST(HtmlToText, Samples)
{
    struct Case { const char* html; const char* text; } cases[] = {
        {"<p>Hello&nbsp;<b>you</b></p>", "\r\n\r\nHello YOU\r\n\r\n"},
        {"<a href=\"x.htm\">here</a>", "here(x.htm)"},
        {"<pre>  a\n   b</pre> x   y", "  a\n   bx y"},
        {"<title>T</title><body>Main &amp; more &copy;</body>", "Main & more (C)"},
        {"<ul><li>one<li>two</ul>", "\r\n  * one\r\n  * two"},
        {"<h1>Title</h1>text", "\r\nTITLE\r\n\r\ntext"},
        {"a &unknown; b", "a  b"},
        {"<img alt='Logo' src=logo.png>", "IMAGE Logo "},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(html_to_text(c.html, std::char_traits<char>::length(c.html)).c_str(), c.text) << c.html;
}

// Header values far longer than a line: folded at blanks into lines of at
// most 998 bytes, never cut, so no header line runs into the next.
TEST_F(Compose, LongHeaderValuesAreFoldedNeverGlued)
{
    std::string words, addresses, name;
    for (int i = 0; i < 12000; ++i) words += (i ? " " : "") + std::string("word") + std::to_string(i);
    for (int i = 0; i < 5000; ++i) addresses += (i ? "," : "") + std::string("r") + std::to_string(i) + "@test.example";
    for (int i = 0; i < 12000; ++i) name += "Name" + std::to_string(i) + " ";
    struct Case {
        std::string option, header, value;
    } cases[] = {
        {"-s:", "Subject", words},
        {"-from:", "From", name + "<me@test.example>"},
        {"-to:", "To", addresses},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-from:me@test.example", "-to:you@test.example", "-s:Test"};
        for (std::string& a : args)
            if (a.rfind(c.option, 0) == 0) a = c.option + c.value;
        args.insert(args.end(), {"-mf", "-host:" + path("long.eml"), "-msg:body"});
        Outcome r = tavrin(args);
        ASSERT_EQ(r.status, 0) << c.option << r.err;
        std::string check = shell("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) +
                                  "/tests/support/header_lines.py " + path("long.eml") + " " + dir)
                                .out;
        int longest = std::atoi(check.c_str() + std::string("longest ").size());
        EXPECT_LE(longest, 998) << c.option;
        for (const char* h : {"\nFrom\n", "\nSubject\n", "\nMIME-Version\n", "\nDate\n", "\nContent-Type\n"})
            EXPECT_NE(check.find(h), std::string::npos) << c.option << " lost" << h;
        std::string value = slurp(path("header-" + c.header));
        if (c.header == "To") {
            // One entry a line: the value lists every address once, in order.
            std::string listed;
            for (char ch : value)
                if (ch != ' ' && ch != '\t') listed += ch;
            EXPECT_TRUE(listed == c.value) << c.option;
        } else {
            EXPECT_TRUE(value == c.value) << c.option << ": " << value.size() << " of " << c.value.size();
        }
    }
}

TEST_F(Compose, HeaderThatCannotBeFoldedIsRefused)
{
    Outcome r = tavrin({"-from:me@test.example", "-to:you@test.example", "-s:" + std::string(3000, 'x'), "-mf",
                        "-host:" + path("refused.eml"), "-msg:body"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("Sent "), std::string::npos);
    EXPECT_NE(r.err.find("header line cannot be folded to 998 bytes: Subject"), std::string::npos) << r.err;
}

TEST_F(Compose, LongSubjectOfADescriptionFileIsFolded)
{
    std::string words;
    for (int i = 0; i < 8000; ++i) words += " s" + std::to_string(i);
    write("described.txt", "From: me@test.example\nTo: you@test.example\nSubject:" + words + "\nContents:\nbody\n");
    Outcome r = tavrin({"-import", "-file:" + path("described.txt"), "-mf", "-host:" + path("described.eml")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string check = shell("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) + "/tests/support/header_lines.py " +
                              path("described.eml") + " " + dir)
                            .out;
    EXPECT_LE(std::atoi(check.c_str() + 8), 998);
    EXPECT_NE(check.find("\nMIME-Version\n"), std::string::npos);
    EXPECT_TRUE(slurp(path("header-Subject")) == words.substr(1));
}

// A message file that cannot be written is a failure, not "Sent".
TEST_F(Compose, MessageFileWriteFailureFailsTheRun)
{
    write("large.txt", std::string(300000, 'a') + "\n");
    // A small message fails at the flush, a large one at a write on the way.
    for (const std::string& body : {std::string("-msg:a short message"), "-file:" + path("large.txt")}) {
        Outcome r = tavrin(with_common({"-mf", "-host:/dev/full", body}));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out.find("Sent "), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("Status: cannot write /dev/full: No space left on device"), std::string::npos) << r.err;
    }
}

// A display name of many 8-bit characters is one long encoded word right
// before the address: it is split into words, not refused.
TEST_F(Compose, LongEncodedDisplayNameIsSplitNotRefused)
{
    std::string name;
    for (int i = 0; i < 400; ++i) name += "\xc3\xa9";
    Outcome r = tavrin({"-from:" + name + " <me@test.example>", "-to:you@test.example", "-s:Test", "-charset:utf-8",
                        "-mf", "-host:" + path("name.eml"), "-msg:body"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string check = shell("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) + "/tests/support/header_lines.py " +
                              path("name.eml") + " " + dir)
                            .out;
    EXPECT_LE(std::atoi(check.c_str() + 8), 998);
    std::string from = slurp(path("header-From"));
    EXPECT_EQ(from.rfind("?=<me@test.example>"), from.size() - 19) << from.substr(0, 200);
}

// Relaying a header of many folds: the echo of the joined line is bounded,
// so the report grows with the input, not with its square.
TEST_F(Compose, RelayEchoOfFoldedHeadersStaysLinear)
{
    size_t report[2];
    for (int round = 0; round < 2; ++round) {
        int folds = 10000 << round;
        std::string message = "From: me@test.example\nTo: you@test.example\nX-Long: start\n";
        for (int i = 0; i < folds; ++i) message += "\tfold" + std::to_string(i) + "\n";
        message += "Subject: folded\n\nbody\n";
        write("relay.txt", message);
        Outcome r = tavrin({"-t", "-file:" + path("relay.txt"), "-mf", "-host:" + path("relay.eml")});
        ASSERT_EQ(r.status, 0) << r.err;
        report[round] = r.out.size();
        // The message itself is whole.
        EXPECT_NE(slurp(path("relay.eml")).find("\tfold" + std::to_string(folds - 1) + "\r\n"), std::string::npos);
    }
    EXPECT_LT(report[1], report[0] * 5 / 2) << report[0] << " then " << report[1];
}

TEST_F(Compose, DescriptionFileItemNamingAFolderIsRefused)
{
    write("folder-item.txt", "From: me@test.example\nTo: you@test.example\nSubject: s\nFile Item: " + dir +
                                 "\nContents:\nbody\n");
    Outcome r = tavrin({"-import", "-file:" + path("folder-item.txt"), "-mf", "-host:" + path("item.eml")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "WARNING: attachment '" + dir + "' does not exist! (21)\r\n");
    EXPECT_EQ(slurp(path("item.eml")).find("multipart"), std::string::npos);
}

// A data file that cannot be read whole (here a folder) is not sent as if
// what was read were the message.
TEST_F(Compose, UnreadableDataFileFailsTheRun)
{
    Outcome r = tavrin(with_common({"-mf", "-host:" + path("unread.eml"), "-file:" + dir}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("Sent "), std::string::npos);
    EXPECT_EQ(r.err, "Could not read data file: " + dir + " (Is a directory)\r\n");
}

// A line end inside a value (a web form's subject, a description file's
// bare CR) becomes a blank: it can never start a header of its own.
TEST_F(Compose, LineEndsInValuesNeverStartHeaderLines)
{
    write("cr.txt", "From: me@test.example\nTo: you@test.example\nSubject: Hi\rBcc: injected@test.example\r\r"
                    "Injected body\nContents:\nbody\n");
    struct Case {
        std::vector<std::string> args;
        const char* subject;
    } cases[] = {
        {with_common({"-s:Hi\nBcc: injected@test.example\n\nInjected body", "-msg:body", "-charset:us-ascii\nX-Evil: 1",
                      "-hdr:X-One: 1\n\nX-Two: 2"}),
         "Hi Bcc: injected@test.example Injected body"},
        {{"-import", "-file:" + path("cr.txt")}, "Hi Bcc: injected@test.example Injected body"},
    };
    for (Case& c : cases) {
        c.args.insert(c.args.end(), {"-mf", "-host:" + path("values.eml")});
        Outcome r = tavrin(c.args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string names = shell("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) +
                                  "/tests/support/header_lines.py " + path("values.eml") + " " + dir)
                                .out;
        EXPECT_EQ(names.find("\nBcc\n"), std::string::npos) << names;
        EXPECT_EQ(names.find("\nX-Evil\n"), std::string::npos) << names;
        EXPECT_NE(names.find("\nMIME-Version\n"), std::string::npos) << names;
        EXPECT_EQ(slurp(path("header-Subject")), c.subject);
        std::string message = slurp(path("values.eml"));
        EXPECT_EQ(message.find("\r\n\r\nInjected body"), std::string::npos);
    }
}

// File names are the sender's: quoted in part headers, never a line end.
TEST_F(Compose, AttachmentNamesAreQuotedAndCannotEndALine)
{
    write("q\"uote.txt", "one");
    write("crlf\r\nX-Injected: yes.txt", "two");
    Outcome r = tavrin(with_common({"-mf", "-host:" + path("names.eml"), "-msg:body", "-a:" + path("q\"uote.txt"),
                                    "-a:" + path("crlf\r\nX-Injected: yes.txt")}));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string t = tree(path("names.eml"));
    EXPECT_NE(t.find("name=q\"uote.txt"), std::string::npos) << t;
    EXPECT_NE(t.find("name=crlf X-Injected: yes.txt"), std::string::npos) << t;
    EXPECT_EQ(slurp(path("names.eml")).find("\r\nX-Injected"), std::string::npos);
}

TEST_F(Compose, LongSubjectInASingleByteCharsetIsFolded)
{
    std::string subject = "x";
    for (int i = 0; i < 400; ++i) subject += "\xb1";
    Outcome r = tavrin(with_common({"-s:" + subject, "-charset:iso-8859-1", "-mf", "-host:" + path("latin.eml"),
                                    "-msg:body"}));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string check = shell("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) + "/tests/support/header_lines.py " +
                              path("latin.eml") + " " + dir)
                            .out;
    EXPECT_LE(std::atoi(check.c_str() + 8), 998);
}

// Message files in a folder: a new name for every file, whatever else is
// there, and no file left behind by a message that failed.
TEST_F(Compose, MessageFilesInAFolderAreNeverReplacedNorLeftHalf)
{
    std::string box = path("box");
    ASSERT_EQ(mkdir(box.c_str(), 0755), 0);
    for (const char* subject : {"-s:First", "-s:Second", "-s:Third"})
        ASSERT_EQ(tavrin({"-from:me@test.example", "-to:you@test.example", subject, "-mf", "-host:" + box, "-port:eml",
                          "-msg:body"})
                      .status,
                  0);
    EXPECT_EQ(shell("ls " + box + " | wc -l").out, "3\n");
    Outcome refused = tavrin({"-from:me@test.example", "-to:you@test.example", "-s:" + std::string(3000, 'x'), "-mf",
                              "-host:" + box, "-port:eml", "-msg:body"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(shell("ls " + box + " | wc -l").out, "3\n");
    // A file the caller named is never removed, only written.
    EXPECT_EQ(tavrin(with_common({"-mf", "-host:/dev/full", "-msg:x"})).status, 1);
    EXPECT_TRUE(file_exists("/dev/full"));
}

TEST_F(Compose, OverlargeNumbersSaturateInsteadOfWrapping)
{
    Outcome r = tavrin(with_common({"-mf", "-host:" + path("wrap.eml"), "-msg:hello world", "-msglen:4294967298",
                                    "-qp:0"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(slurp(path("wrap.eml")).find("\r\n\r\nhello world\r\n"), std::string::npos);
}

// The received-message parser over messages held in memory: header fields,
// unfolding, parts and their names, multipart rules, encodings, raw mode,
// and the same parse whatever pieces the lines arrive in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/text_stream.h"
#include "retrieve/read_mail.h"

namespace {

// A reader whose connection is a text: each line read gives at most
// `piece` bytes, as a peer that sends in small pieces would.
class TextReader : public ReadMail {
public:
    explicit TextReader(std::string message, size_t piece = SIZE_MAX) : message_(std::move(message)), piece_(piece)
    {
        open_count = 1;
    }
    const char* kind() const override { return "text"; }
    int read_line(char* buffer, int capacity) override
    {
        size_t room = std::min<size_t>({static_cast<size_t>(capacity), piece_, message_.size() - at_});
        size_t n = 0;
        while (n < room) {
            char c = message_[at_ + n++];
            if (c == '\n') break;
        }
        std::memcpy(buffer, message_.data() + at_, n);
        at_ += n;
        return static_cast<int>(n);
    }
    int read(char* buffer, int n) override
    {
        size_t k = std::min<size_t>(static_cast<size_t>(n), message_.size() - at_);
        std::memcpy(buffer, message_.data() + at_, k);
        at_ += k;
        return static_cast<int>(k);
    }
    int peek_byte(char& out) override
    {
        if (at_ >= message_.size()) return 0;
        out = message_[at_];
        return 1;
    }
    int parse_all() { return parse(static_cast<uint32_t>(message_.size()), 0); }

private:
    std::string message_;
    size_t piece_;
    size_t at_ = 0;
};

struct Part {
    std::string name, type, id, data;
    bool operator==(const Part& o) const { return name == o.name && type == o.type && id == o.id && data == o.data; }
};

std::vector<Part> parts_of(ReadMail& r)
{
    std::vector<Part> parts;
    while (const char* data = r.next_attachment())
        parts.push_back({r.att_filename.c_str(), r.hdr_content_type.c_str(), r.hdr_content_id.c_str(),
                         std::string(data, static_cast<size_t>(r.body_length))});
    return parts;
}

// The parts of a message parsed with extraction; the parse must succeed.
std::vector<Part> extracted(const std::string& message)
{
    TextReader r(message);
    r.extract_parts = 1;
    EXPECT_EQ(r.parse_all(), 1);
    return parts_of(r);
}

std::string crlf(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

const std::string attachment_bytes = std::string("\x00\x01\xff binary \r\n bytes", 20);

std::string mixed_message()
{
    return crlf("From: Joe <joe@test.example>\n"
                "To: a@test.example\n"
                "Subject: mixed\n"
                "MIME-Version: 1.0\n"
                "Content-Type: multipart/mixed; boundary=\"XYZ\"\n"
                "\n"
                "This is the preamble.\n"
                "--XYZ\n"
                "Content-Type: text/plain; charset=us-ascii\n"
                "\n"
                "Hello there.\n"
                "..dotted\n"
                "--XYZ\n"
                "Content-Type: application/octet-stream; name=\"data.bin\"\n"
                "Content-Transfer-Encoding: base64\n"
                "Content-Disposition: attachment; filename=\"data.bin\"\n"
                "\n") +
           base64_encode(attachment_bytes.data(), attachment_bytes.size(), 72) + crlf("--XYZ--\nepilogue\n");
}

std::string alternative_message()
{
    return crlf("From: joe@test.example\nSubject: alt\nContent-Type: multipart/alternative; boundary=B\n\n"
                "--B\nContent-Type: text/plain\n\nplain text\n"
                "--B\nContent-Type: text/html\n\n<p>html</p>\n--B--\n");
}

}  // namespace

TEST(Parser, MainHeaderFieldsAndUnfolding)
{
    TextReader r(crlf("To: a@test.example,\n  b@test.example\n"
                      "Subject: =?utf-8?Q?Gr=C3=BC?=  \n =?utf-8?Q?=C3=9Fe?=\n"
                      "To: c@test.example\n"
                      "From: =?iso-8859-1?Q?J=F6rg?= <j@test.example>\n"
                      "Importance: Low\nX-Priority: 1\n"
                      "Date: Thu, 1 Jan 2026 00:00:00 +0000\n\nbody line\n"));
    ASSERT_EQ(r.parse_all(), 1);
    EXPECT_STREQ(r.hdr_to.c_str(), "a@test.example, b@test.example,c@test.example");
    EXPECT_STREQ(r.hdr_subject.c_str(), "Gr\xc3\xbc\xc3\x9f" "e");  // joined with no blank: the words meet
    EXPECT_STREQ(r.hdr_from.c_str(), "J\xf6rg <j@test.example>");
    EXPECT_STREQ(r.priority_text(), "Low");  // X-Priority only counts while no priority is set
    EXPECT_STREQ(r.text(), "body line\r\n");
    EXPECT_STREQ(r.take_header("Subject").c_str(), "=?utf-8?Q?Gr=C3=BC?==?utf-8?Q?=C3=9Fe?=");
    EXPECT_STREQ(r.take_header("SUBJECT").c_str(), "");  // once only
    EXPECT_STREQ(r.subject_or_default().c_str(), "Gr\xc3\xbc\xc3\x9f" "e");
    EXPECT_STREQ(r.cc_text().c_str(), "");
}

TEST(Parser, XPriorityValues)
{
    struct Case {
        const char* value;
        const char* text;
    } cases[] = {{"1", "High"}, {"2 (High)", "High"}, {"3", "Normal"}, {"5 (Lowest)", "Low"}, {"x", "High"}};
    for (const Case& c : cases) {
        TextReader r(crlf(std::string("Subject: p\nX-Priority: ") + c.value + "\n\nx\n"));
        ASSERT_EQ(r.parse_all(), 1);
        EXPECT_STREQ(r.priority_text(), c.text) << c.value;
    }
}

TEST(Parser, MixedMessageWithABase64AttachmentUnderExtraction)
{
    TextReader r(mixed_message());
    r.extract_parts = 1;
    ASSERT_EQ(r.parse_all(), 1);
    EXPECT_STREQ(r.text(), "This is the preamble.");
    std::vector<Part> parts = parts_of(r);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].name, "");
    EXPECT_EQ(parts[0].type, "text/plain; charset=us-ascii\r\n");
    EXPECT_EQ(parts[0].data, "Hello there.\r\n..dotted");  // a message file keeps its dots
    EXPECT_EQ(parts[1].name, "data.bin");
    EXPECT_EQ(parts[1].data, attachment_bytes);
    EXPECT_EQ(r.attachments_total, parts[0].data.size() + parts[1].data.size());
}

TEST(Parser, WithoutExtractionThePartsTextsFollowEachOther)
{
    TextReader r(mixed_message());
    ASSERT_EQ(r.parse_all(), 1);
    EXPECT_EQ(r.attachment_count(), 0);
    std::string text(r.text(), static_cast<size_t>(r.body_length));
    EXPECT_EQ(text, "This is the preamble.Hello there.\r\n..dotted" + attachment_bytes);
}

TEST(Parser, AlternativeKeepsThePreferredPart)
{
    for (int prefer_html : {0, 1}) {
        TextReader r(alternative_message());
        r.extract_parts = 1;
        r.prefer_html = prefer_html;
        ASSERT_EQ(r.parse_all(), 1);
        std::vector<Part> parts = parts_of(r);
        ASSERT_EQ(parts.size(), 1u) << prefer_html;
        EXPECT_EQ(parts[0].data, prefer_html ? "<p>html</p>" : "plain text");
    }
}

TEST(Parser, NestedMixedDropsThePartThatCarriesItsPreamble)
{
    std::string m = crlf("Subject: nested\nContent-Type: multipart/mixed; boundary=OUT\n\n"
                         "--OUT\nContent-Type: multipart/mixed; boundary=IN\n\ninner preamble\n"
                         "--IN\nContent-Type: text/plain\n\ninner text\n--IN--\n"
                         "--OUT\nContent-Type: text/plain; name=last.txt\n\nlast\n--OUT--\n");
    TextReader r(m);
    r.extract_parts = 1;
    ASSERT_EQ(r.parse_all(), 1);
    std::vector<Part> parts = parts_of(r);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].data, "inner text");
    EXPECT_EQ(parts[1].name, "last.txt");
    EXPECT_EQ(parts[1].data, "last");
}

TEST(Parser, HalfCloseDelimiterAndUnterminatedMultipartAreReported)
{
    clear_report();
    TextReader closed(crlf("Subject: s\nContent-Type: multipart/mixed; boundary=b\n\n--b\n\none\n--b-\n"));
    closed.debug_level = 1;
    ASSERT_EQ(closed.parse_all(), 1);
    EXPECT_NE(report_stream.contents().find("WARNING: incorrect MIME multipart termination\r\n"), std::string::npos);
    clear_report();
    TextReader open(crlf("Subject: s\nContent-Type: multipart/mixed; boundary=b\n\n--b\n\none\n"));
    open.debug_level = 1;
    open.extract_parts = 1;
    ASSERT_EQ(open.parse_all(), 1);
    EXPECT_NE(report_stream.contents().find("TAVRIN error: Unterminated multipart MIME attachment detected."),
              std::string::npos);
    std::vector<Part> parts = parts_of(open);
    ASSERT_EQ(parts.size(), 1u);  // the part the message never closed is kept
    EXPECT_EQ(parts[0].data, "one\r\n");
}

TEST(Parser, FileNamesInTheirForms)
{
    struct Case {
        const char* header;
        const char* name;
    } cases[] = {
        {"Content-Disposition: attachment; filename=plain.txt", "plain.txt"},
        {"Content-Disposition: attachment; filename=\"with blank.txt\"", "with blank.txt"},
        {"Content-Disposition: attachment; filename=\"../../etc/passwd\"", ".._.._etc_passwd"},
        {"Content-Disposition: attachment; filename*=UTF-8''na%C3%AFve.txt", "na\xc3\xafve.txt"},
        {"Content-Disposition: attachment; filename*0*=UTF-8''long%20;\n filename*1=\"name.pdf\"", "long name.pdf"},
        {"Content-Disposition: attachment; filename=\"=?utf-8?Q?caf=C3=A9.txt?=\"", "caf\xc3\xa9.txt"},
        {"Content-Type: text/plain; name=\"from type.txt\"", "from type.txt"},
    };
    for (const Case& c : cases) {
        TextReader r(crlf(std::string("Subject: n\nContent-Type: multipart/mixed; boundary=b\n\n--b\n") + c.header +
                          "\n\ndata\n--b--\n"));
        r.extract_parts = 1;
        ASSERT_EQ(r.parse_all(), 1);
        std::vector<Part> parts = parts_of(r);
        ASSERT_EQ(parts.size(), 1u) << c.header;
        EXPECT_EQ(parts[0].name, c.name) << c.header;
    }
}

TEST(Parser, SinglePartBase64WithAndWithoutATrailingBlankLine)
{
    std::string data = "single part bytes \x01\x02";
    for (const char* tail : {"", "\r\n"}) {
        TextReader r(crlf("Subject: b\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n\n") +
                     base64_encode(data.data(), data.size(), 72) + tail);
        ASSERT_EQ(r.parse_all(), 1);
        EXPECT_EQ(std::string(r.text(), static_cast<size_t>(r.body_length)), data) << (*tail ? "blank" : "no blank");
    }
}

TEST(Parser, UuBlockBecomesANamedPartAndItsNameCannotBeAPath)
{
    std::string m = crlf("Subject: uu\n\ntext before\nbegin 644 ../evil.txt\n&:&5L;&\\*\n`\nend\n");
    TextReader r(m);
    r.extract_parts = 1;
    ASSERT_EQ(r.parse_all(), 1);
    std::vector<Part> parts = parts_of(r);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].data, "text before\r\n");  // the text before the block is kept, in its place
    EXPECT_EQ(parts[1].name, ".._evil.txt");
    EXPECT_EQ(parts[1].type, "application/octet-stream");
    EXPECT_EQ(parts[1].data, "hello\n");
}

TEST(Parser, UuBlockInATextMessageIsBinaryAndTheTextAroundItStays)
{
    // "\r\n" inside the file: a block taken for text would lose its CR.
    std::string file = "a\r\nb";
    std::string m = crlf("Subject: uu\nContent-Type: text/plain\n\ntext before\nbegin 644 pic.bin\n$80T*8@``\n`\nend\n"
                         "text after\n");
    TextReader r(m);
    r.extract_parts = 1;
    ASSERT_EQ(r.parse_all(), 1);
    std::vector<Part> parts = parts_of(r);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].name, "");
    EXPECT_EQ(parts[0].type.rfind("text/plain", 0), 0u) << parts[0].type;
    EXPECT_EQ(parts[0].data, "text before\r\n");
    EXPECT_EQ(parts[1].name, "pic.bin");
    EXPECT_EQ(parts[1].type, "application/octet-stream");
    EXPECT_EQ(parts[1].data, file);
    EXPECT_EQ(parts[2].name, "");
    EXPECT_EQ(parts[2].data, "text after\r\n");
}

TEST(Parser, RawModeKeepsTheMessageByteForByte)
{
    std::string m = crlf("Subject: raw\nX-Folded: one\n\ttwo\n\n.dot line\n--not a boundary\nlast\n");
    TextReader r(m);
    r.raw_mode = 1;
    ASSERT_EQ(r.parse_all(), 1);
    std::string expected = m;
    std::replace(expected.begin(), expected.end(), '\t', ' ');
    EXPECT_EQ(std::string(r.text(), static_cast<size_t>(r.body_length)), expected);
    EXPECT_EQ(r.attachment_count(), 0);
}

TEST(Parser, OnlyAPop3TransferLosesItsLeadingDots)
{
    std::string m = crlf("Subject: dots\n\n..double\n.single\n");
    TextReader file(m);
    ASSERT_EQ(file.parse_all(), 1);
    EXPECT_STREQ(file.text(), "..double\r\n.single\r\n");
    TextReader pop(m + ".\r\n");
    pop.size_is_exact = 0;
    pop.dot_stuffed = 1;
    ASSERT_EQ(pop.parse(1000, 0), 1);
    EXPECT_STREQ(pop.text(), ".double\r\nsingle\r\n");
}

// The same message in pieces of every size gives the same parse.
TEST(Parser, PiecesOfAnySizeGiveTheSameParse)
{
    for (const std::string& m : {mixed_message(), alternative_message()}) {
        TextReader whole(m);
        whole.extract_parts = 1;
        ASSERT_EQ(whole.parse_all(), 1);
        std::string text(whole.text(), static_cast<size_t>(whole.body_length));  // before the parts set body_length
        std::vector<Part> expected = parts_of(whole);
        for (size_t piece = 1; piece < 80; ++piece) {
            TextReader split(m, piece);
            split.extract_parts = 1;
            ASSERT_EQ(split.parse_all(), 1) << piece;
            ASSERT_EQ(std::string(split.text(), static_cast<size_t>(split.body_length)), text) << piece;
            EXPECT_TRUE(parts_of(split) == expected) << piece;
        }
    }
}

// Hostile messages: a header line of megabytes, a header of endless
// continuations, no line end at all, a hint-sized message past its bound.
TEST(Parser, HostileMessagesAreBoundedAndParsed)
{
    std::string long_value(5 << 20, 'v');
    std::string folds;
    for (int i = 0; i < 100000; ++i) folds += " fold" + std::to_string(i) + "\r\n";
    struct Case {
        std::string message;
        const char* what;
    } cases[] = {
        {"X-Long: " + long_value + "\r\nSubject: after\r\n\r\nbody\r\n", "long header line"},
        {"Subject: start\r\n" + folds + "\r\nbody\r\n", "endless continuations"},
        {"Subject: s\r\n\r\n" + long_value, "a body without any line end"},
        {long_value, "no line end at all"},
    };
    for (const Case& c : cases) {
        TextReader r(c.message);
        r.extract_parts = 1;
        EXPECT_EQ(r.parse_all(), 1) << c.what;
        EXPECT_EQ(r.bytes_read, c.message.size()) << c.what;
    }
    TextReader folded("Subject: start\r\n" + folds + "\r\nbody\r\n");
    ASSERT_EQ(folded.parse_all(), 1);
    EXPECT_EQ(folded.hdr_subject.length(), std::string("start").size() + folds.size() - 2 * 100000 - 100000);
    EXPECT_STREQ(folded.text(), "body\r\n");
    // A POP3 message of a 1000-byte hint may take 1 MiB, no more: the parse
    // fails instead of growing without end.
    TextReader pop("Subject: big\r\n\r\n" + std::string(2 << 20, 'x') + "\r\n.\r\n");
    pop.size_is_exact = 0;
    EXPECT_EQ(pop.parse(1000, 0), 0);
}

// An exact size is read exactly: what follows it is not part of the message.
TEST(Parser, AnExactSizeIsReadExactly)
{
    std::string message = crlf("Subject: exact\n\nbody\n");
    TextReader r(message + "Subject: the next message\r\n\r\nnot this\r\n");
    ASSERT_EQ(r.parse(static_cast<uint32_t>(message.size()), 0), 1);
    EXPECT_EQ(r.bytes_read, message.size());
    EXPECT_STREQ(r.text(), "body\r\n");
    EXPECT_STREQ(r.seen_flag(), "\\Seen");
    EXPECT_EQ(r.close_mailbox(), 1);
    EXPECT_EQ(r.list_mailboxes("*", 0), 0);
}

// Quoted-printable: soft line breaks join lines, and a boundary that ends
// with '=' still ends the part.
TEST(Parser, QuotedPrintableSoftBreaksAndABoundaryEndingWithEquals)
{
    TextReader r(crlf("Subject: qp\nContent-Type: multipart/mixed; boundary=\"=_b=\"\n\n--=_b=\n"
                      "Content-Type: text/plain; name=q.txt\nContent-Transfer-Encoding: quoted-printable\n\n"
                      "caf=C3=A9 is a long li=\nne\n--=_b=--\n"));
    r.extract_parts = 1;
    ASSERT_EQ(r.parse_all(), 1);
    std::vector<Part> parts = parts_of(r);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].name, "q.txt");
    EXPECT_EQ(parts[0].data, "caf\xc3\xa9 is a long line");
}

// A line that only begins like the delimiter is text, and a part without a
// Content-ID does not take the one of the part before it.
TEST(Parser, DelimitersMustStandAloneAndIdentifiersDoNotCarryOver)
{
    TextReader r(crlf("Subject: d\nContent-Type: multipart/mixed; boundary=abc\n\n"
                      "--abc\nContent-Type: image/png\nContent-ID: <one@x>\n\nFIRST\n--abcdef is text\n"
                      "--abc  \nContent-Type: image/png\n\nSECOND\n--abc--\n"));
    r.extract_parts = 1;
    ASSERT_EQ(r.parse_all(), 1);
    std::vector<Part> parts = parts_of(r);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].data, "FIRST\r\n--abcdef is text");
    EXPECT_EQ(parts[0].name, "one_x");  // the identifier, made safe
    EXPECT_EQ(parts[1].data, "SECOND");
    EXPECT_EQ(parts[1].name, "");
}

// Found by a hostile-message probe: each of these lost a part, cut a name
// or let a name escape its folder.
TEST(Parser, HostileStructuresKeepEveryPartAndEveryNameSafe)
{
    {
        std::vector<Part> parts = extracted(crlf("Subject: c\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                          "Content-ID: <../../../../pwn>\n\ndata\n--b--\n"));
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0].name, ".._.._.._.._pwn");  // the identifier names it, made safe like any name
    }
    {
        std::vector<Part> parts = extracted(crlf("Subject: n\nContent-Type: multipart/mixed; boundary=OUT\n\n"
                          "--OUT\nContent-Type: multipart/mixed; boundary=IN\n\n--IN\n"
                          "Content-Disposition: attachment; filename=in.txt\n\ninner\n"
                          "--OUT\nContent-Disposition: attachment; filename=out.txt\n\nouter\n--OUT--\n"));
        std::string names;
        for (const Part& p : parts)
            if (!p.name.empty()) names += p.name + "=" + p.data + ";";
        EXPECT_EQ(names, "in.txt=inner;out.txt=outer;");  // the outer delimiter closes the inner level
    }
    {
        std::string a = base64_encode("hello ", 6, 72), b = base64_encode("world", 5, 72);
        std::vector<Part> parts = extracted(crlf("Subject: b\nContent-Type: application/octet-stream; name=s.bin\n"
                                                 "Content-Transfer-Encoding: base64\n\n") + a + "\r\n" + b);
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0].data, "hello world");  // a blank line inside base64 is not its end
    }
    {
        std::vector<Part> parts = extracted(crlf("Subject: uu\n\nbegin 644 kept.txt\n&:&5L;&\\*\n"));
        ASSERT_EQ(parts.size(), 1u);  // a block never ended keeps what it decoded
        EXPECT_EQ(parts[0].name, "kept.txt");
        EXPECT_EQ(parts[0].data, "hello\n");
    }
    {
        using namespace std::string_literals;
        std::vector<Part> parts = extracted("Subject: z\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                     "Content-Disposition: attachment; filename=\"a\0b.bin\"\r\n\r\nx\r\n--b--\r\n"s);
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0].name, "a_b.bin");  // a NUL is an unsafe byte, not the end of the name
    }
}

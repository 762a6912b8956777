#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "base/base64.h"
#include "base/header_words.h"
#include "base/quoted_printable.h"
#include "base/uucode.h"

namespace {

std::string encode(const std::string& in, int line_length, char char63 = '/')
{
    MemorySink sink;
    {
        Base64Encoder e(sink, line_length, char63);
        e.write(in.data(), in.size());
        e.finish();
    }
    return sink.take();
}

std::string qp_body(const std::string& in, int column = 1)
{
    string rest;
    string out = encode_quoted_printable(column, in.data(), in.size(), false, false, rest);
    return std::string(out.c_str(), out.length());
}

std::string qp_decode(std::string s)
{
    size_t n = decode_quoted_printable(&s[0], s.size());
    return s.substr(0, n);
}

}  // namespace

TEST(Base64, Rfc4648Vectors)
{
    struct Case { const char* in; const char* out; } cases[] = {
        {"", ""}, {"f", "Zg==\r\n"}, {"fo", "Zm8=\r\n"}, {"foo", "Zm9v\r\n"}, {"foob", "Zm9vYg==\r\n"},
        {"fooba", "Zm9vYmE=\r\n"}, {"foobar", "Zm9vYmFy\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encode(c.in, 72), c.out) << c.in;
        EXPECT_EQ(encode(c.in, 0), c.out) << c.in;  // no line limit still ends with CR LF
        EXPECT_EQ(base64_decode(c.out, std::strlen(c.out)), c.in) << c.out;
    }
}

TEST(Base64, LineBreaking)
{
    std::string bytes54(54, 'x');
    std::string one_line = encode(bytes54, 72);
    EXPECT_EQ(one_line.size(), 74u);
    EXPECT_EQ(one_line.substr(72), "\r\n");
    std::string two_lines = encode(std::string(55, 'x'), 72);
    EXPECT_EQ(two_lines.find("\r\n"), 72u);
    EXPECT_EQ(two_lines.substr(74), "eA==\r\n");
    // A limit that is no multiple of four breaks after the group that reaches it.
    std::string seventy = encode(std::string(60, 'x'), 70);
    EXPECT_EQ(seventy.find("\r\n"), 72u);
}

TEST(Base64, StreamingInAnyPiecesGivesTheSameText)
{
    std::mt19937 rng(7);
    std::string data(100000, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    std::string whole = encode(data, 72);
    MemorySink sink;
    {
        Base64Encoder e(sink, 72);
        for (size_t i = 0; i < data.size();) {
            size_t n = std::min<size_t>(rng() % 200, data.size() - i);
            e.write(data.data() + i, n);
            i += n;
        }
        e.finish();
    }
    EXPECT_EQ(sink.bytes(), whole);
    MemorySink decoded;
    {
        Base64Decoder d(decoded);
        for (size_t i = 0; i < whole.size();) {
            size_t n = std::min<size_t>(rng() % 300, whole.size() - i);
            d.write(whole.data() + i, n);
            i += n;
        }
        d.finish();
    }
    EXPECT_EQ(decoded.bytes(), data);
}

TEST(Base64, DecoderSkipsForeignCharactersAndShortGroups)
{
    std::string text = "YW Jj\r\n";
    EXPECT_EQ(base64_decode(text.data(), text.size()), "abc");
    EXPECT_EQ(base64_decode("YQ", 2), "a");
    EXPECT_EQ(base64_decode("YWI", 3), "ab");
    EXPECT_EQ(base64_decode("Y", 1), std::string(1, '`'));
    EXPECT_EQ(base64_decode("*!~", 3), "");
}

TEST(Base64, OtherValue63Character)
{
    std::string data = "\xff\xff\xff";
    EXPECT_EQ(encode(data, 0), "////\r\n");
    EXPECT_EQ(encode(data, 0, ','), ",,,,\r\n");
    MemorySink sink;
    {
        Base64Decoder d(sink, ',');
        d.write(",,,,", 4);
        d.finish();
    }
    EXPECT_EQ(sink.bytes(), data);
}

TEST(QuotedPrintable, BodyRules)
{
    struct Case { std::string in; std::string out; } cases[] = {
        {"a=b", "a=3Db"},
        {"end \r\n", "end=20\r\n"},
        {"tab\t\nx", "tab=09\nx"},
        {"last ", "last "},
        {".start\r\n.next", "=2Estart\r\n=2Enext"},
        {"x.y", "x.y"},
        {"caf\xe9", "caf=E9"},
        {std::string("nul\0z", 5), "nul=00z"},
        {"\x7f", "=7F"},
    };
    for (const auto& c : cases) EXPECT_EQ(qp_body(c.in), c.out) << c.in;
}

TEST(QuotedPrintable, SoftLineBreaks)
{
    std::string hundred(100, 'a');
    EXPECT_EQ(qp_body(hundred), std::string(72, 'a') + "=\r\n" + std::string(28, 'a'));
    // A '.' that lands at the start of a new line is escaped there.
    EXPECT_EQ(qp_body(std::string(72, 'a') + "."), std::string(72, 'a') + "=\r\n=2E");
    // Escapes break at column 74.
    std::string eight(30, '\xe9');
    std::string out = qp_body(eight);
    size_t first_break = out.find("=\r\n");
    EXPECT_EQ(first_break, 75u);  // 25 escapes, then the soft break
    for (size_t pos = 0, next; (next = out.find("\r\n", pos)) != std::string::npos; pos = next + 2)
        EXPECT_LE(next - pos, 76u);
    // The column carries over between calls.
    EXPECT_EQ(qp_body("bb", 73), "=\r\nbb");
}

TEST(QuotedPrintable, WorstCaseFitsTheOutputSize)
{
    std::string all_escaped(100000, '\x80');
    int column = 1;
    size_t consumed = 0;
    std::string out(qp_encoded_capacity(all_escaped.size()), '\0');
    size_t n = qp_encode(column, all_escaped.data(), all_escaped.size(), false, false, &out[0], consumed);
    EXPECT_LE(n, out.size());
    EXPECT_EQ(consumed, all_escaped.size());
    std::string joined;  // soft line breaks are the caller's to remove
    for (size_t pos = 0; pos < n;) {
        size_t soft = out.find("=\r\n", pos);
        if (soft == std::string::npos || soft >= n) soft = n;
        joined += out.substr(pos, soft - pos);
        pos = soft + 3;
    }
    EXPECT_EQ(qp_decode(joined), all_escaped);
}

TEST(QuotedPrintable, Decode)
{
    struct Case { std::string in; std::string out; } cases[] = {
        {"a=3Db", "a=b"}, {"caf=e9", "caf\xe9"}, {"=4=41", std::string("\x04" "A")}, {"=4x", "@"},
        {"=G1", std::string(1, '\x01')}, {"abc=", "abc"}, {"=4", "@"}, {"plain", "plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(qp_decode(c.in), c.out) << c.in;
}

TEST(HeaderWords, Encoding)
{
    EXPECT_STREQ(encode_header_text("iso-8859-1", true, "No. Caf\xe9", false).c_str(),
                 "=?iso-8859-1?Q?No=2E=20Caf=E9?=");
    EXPECT_STREQ(encode_header_text("iso-8859-1", true, "Jos\xe9 Ruiz <jose@example.com>", true).c_str(),
                 "=?iso-8859-1?Q?Jos=E9=20Ruiz=20?=<jose@example.com>");
    EXPECT_STREQ(encode_header_text("iso-8859-1", false, "Caf\xe9", false).c_str(), "Caf\xe9");
    EXPECT_STREQ(encode_header_text("iso-8859-1", true, "plain ascii", false).c_str(), "plain ascii");
    EXPECT_STREQ(encode_header_text("utf-8", true, "a?b_c=\xc3\xa9", false).c_str(), "=?utf-8?Q?a=3Fb=5Fc=3D=C3=A9?=");
}

TEST(HeaderWords, Decoding)
{
    string charset;
    struct Case { const char* in; const char* out; } cases[] = {
        {"=?iso-8859-1?Q?No=2E=20Caf=E9?=", "No. Caf\xe9"},
        {"=?utf-8?B?Q2Fmw6k=?= and more", "Caf\xc3\xa9 and more"},
        {"=?x?q?a_b?= =?x?Q?c?=", "a b c"},
        {"plain text", "plain text"},
        {"=?x?Z?abc?=", "=?x?Z?abc?="},
        {"bad =?x", "bad =?x"},
        {"=?x?Q?=4", "@"},
        {"=?x?Q?abc?= tail ?=", "abc tail ?="},
    };
    for (const auto& c : cases) EXPECT_STREQ(decode_header_text(c.in, &charset).c_str(), c.out) << c.in;
    decode_header_text("=?koi8-r?B?YQ==?=", &charset);
    EXPECT_STREQ(charset.c_str(), "koi8-r");
}

TEST(UuCode, EncodeFrameAndDotDoubling)
{
    UuEncoder e("c:\\temp\\report.bin");
    e.dot_doubling = 1;
    e.encode("abcdefghijklmn", 14);
    e.end();
    const std::string& out = e.memory().bytes();
    EXPECT_EQ(out.substr(0, 21), "begin 644 report.bin\n");
    EXPECT_EQ(out.substr(21, 2), "..");
    EXPECT_EQ(out.substr(out.size() - 6), "`\nend\n");

    UuEncoder plain("x");
    plain.encode("Cat", 3);
    EXPECT_EQ(plain.memory().bytes(), "begin 644 x\n#0V%T\n");
    UuEncoder zero("z");
    zero.encode("\0\0\0", 3);
    EXPECT_EQ(zero.memory().bytes(), "begin 644 z\n#````\n");
}

TEST(UuCode, RoundTripAndShortLines)
{
    std::string data;
    for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7));
    UuEncoder e("data.bin");
    e.encode(data.data(), data.size());
    e.end();
    const std::string& text = e.memory().bytes();
    size_t first = text.find('\n');
    UuDecoder d(text.substr(0, first).c_str());
    EXPECT_EQ(d.mode, 644);
    EXPECT_STREQ(d.name.c_str(), "data.bin");
    for (size_t pos = first + 1, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1) {
        std::string line = text.substr(pos, end - pos);
        if (line[0] == '`' || line == "end") continue;
        d.decode_line(line.data(), line.size());
    }
    EXPECT_EQ(d.memory().bytes(), data);

    UuDecoder shorter("begin 600 s");
    shorter.decode_line("M", 1);  // claims 45 bytes, holds none
    EXPECT_EQ(shorter.memory().bytes(), std::string(45, '\0'));
    UuDecoder dotted("begin 644 d");
    dotted.dot_removal = 1;
    dotted.decode_line("..", 2);
    EXPECT_EQ(dotted.memory().bytes(), std::string(14, '\0'));
}

namespace {

// The body rules written out one byte at a time, to check the fast encoder.
std::string reference_qp_body(const std::string& in, int column)
{
    std::string out;
    char hex[4];
    for (size_t i = 0; i < in.size();) {
        unsigned char b = static_cast<unsigned char>(in[i]);
        bool next_ends_line = i + 1 < in.size() && (in[i + 1] == '\r' || in[i + 1] == '\n');
        bool escape = b > 126 || (b == '.' && column == 1) || ((b == ' ' || b == '\t') && next_ends_line) ||
                      (b < 32 && b != '\t' && b != '\n' && b != '\r') || b == '=';
        if (escape) {
            if (column >= 74) out += "=\r\n", column = 1;
            std::snprintf(hex, sizeof hex, "=%02X", b);
            out += hex;
            column += 3;
        } else if (b == '\r') {
            out += '\r';
        } else if (b == '\n') {
            out += '\n';
            column = 1;
        } else if (column >= 73) {
            out += "=\r\n";
            column = 1;
            continue;
        } else {
            out += static_cast<char>(b);
            ++column;
        }
        ++i;
    }
    return out;
}

}  // namespace

TEST(QuotedPrintable, FastPathAgreesWithTheRulesOnRandomText)
{
    std::mt19937 rng(3);
    const char alphabet[] = "abc .\t\r\n=\x80\xff?_xyz";
    for (int round = 0; round < 2000; ++round) {
        std::string in(rng() % 300, '\0');
        for (char& c : in) c = (rng() % 4 == 0) ? alphabet[rng() % (sizeof alphabet - 1)] : static_cast<char>('a' + rng() % 26);
        int start = 1 + static_cast<int>(rng() % 80);
        ASSERT_EQ(qp_body(in, start), reference_qp_body(in, start)) << round;
    }
}

// The wire form of message text: dot-stuffing with line-end repair, and
// header lines folded to what mail allows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/byte_sink.h"
#include "base/header_words.h"
#include "send/dot_stuffing.h"
#include "send/header_folding.h"

namespace {

// The input given in the pieces listed, through a repairing sink.
std::string stuffed(const std::vector<std::string>& pieces, bool repair = true)
{
    MemorySink out;
    DotStuffingSink sink(out, repair);
    for (const std::string& p : pieces) sink.write(p.data(), p.size());
    sink.finish();
    return out.bytes();
}

std::vector<std::string> lines_of(const std::string& folded)
{
    std::vector<std::string> lines;
    size_t at = 0, end;
    while ((end = folded.find("\r\n", at)) != std::string::npos) {
        lines.push_back(folded.substr(at, end - at));
        at = end + 2;
    }
    EXPECT_EQ(at, folded.size()) << "text after the last line end";
    return lines;
}

}  // namespace

TEST(DotStuffing, LineEndsAreRepairedAndLeadingDotsDoubled)
{
    struct Case {
        std::vector<std::string> pieces;
        const char* wire;
    } cases[] = {
        {{".a\r\nb\r\n.\r\n"}, "..a\r\nb\r\n..\r\n"},
        {{"a\nb\n"}, "a\r\nb\r\n"},                 // bare LF
        {{"a\rb\r"}, "a\r\nb\r\n"},                 // bare CR
        {{"\r.\r"}, "\r\n..\r\n"},                  // no end can hide in bare CRs
        {{"x\r\n.\r\ny"}, "x\r\n..\r\ny\r\n"},      // a last line gets its end
        {{"x\r", "\n.", "y\r\n"}, "x\r\n..y\r\n"},  // CR LF and the dot split over writes
        {{"a\r", "\r\n"}, "a\r\n\r\n"},
        {{"", ".", ".", "\n"}, "...\r\n"},
        {{"mid.dle\r\n"}, "mid.dle\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(stuffed(c.pieces), c.wire) << c.wire;
}

TEST(DotStuffing, WithoutRepairOnlyDotsChange)
{
    EXPECT_EQ(stuffed({".a\nb\r.c\r\n.d"}, false), "..a\nb\r.c\r\n..d");
}

TEST(DotStuffing, LargeInputKeepsEveryByte)
{
    std::string text, expected;
    for (int i = 0; i < 20000; ++i) {
        std::string line = (i % 7 == 0 ? "." : "") + std::string(static_cast<size_t>(i % 97), 'a' + i % 26);
        text += line + (i % 3 ? "\n" : "\r\n");
        expected += (i % 7 == 0 ? "." : "") + line + "\r\n";
    }
    std::vector<std::string> pieces;
    for (size_t at = 0; at < text.size(); at += 4093) pieces.push_back(text.substr(at, 4093));
    EXPECT_EQ(stuffed(pieces), expected);
}

TEST(HeaderFolding, ShortLinesStayAndLongOnesFoldBeforeABlank)
{
    std::string out;
    ASSERT_TRUE(fold_header_line("Subject: short", out));
    EXPECT_EQ(out, "Subject: short\r\n");

    std::string words;
    for (int i = 0; i < 20000; ++i) words += " word" + std::to_string(i);
    std::string line = "Subject:" + words;
    out.clear();
    ASSERT_TRUE(fold_header_line(line, out));
    std::vector<std::string> lines = lines_of(out);
    ASSERT_GT(lines.size(), 100u);
    std::string unfolded;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), max_header_line);
        if (i) {
            EXPECT_EQ(lines[i][0], ' ') << i;  // a continuation begins with its blank
        }
        unfolded += lines[i];
    }
    EXPECT_EQ(unfolded, line);  // unfolding gives the value back
}

TEST(HeaderFolding, WhatCannotBeFoldedIsRefused)
{
    std::string out = "kept";
    EXPECT_FALSE(fold_header_line("Subject: " + std::string(2000, 'x'), out));
    EXPECT_EQ(out, "kept");
    EXPECT_FALSE(fold_header_line("To: a@b, " + std::string(1000, 'y') + "@example.com", out));
}

TEST(HeaderFolding, LongEncodedWordIsSplitIntoWordsThatDecodeToTheSameText)
{
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "Gr\xc3\xbc\xc3\x9f" "e ";
    string encoded = encode_header_text("utf-8", true, text.c_str(), false);
    std::string line = std::string("Subject: ") + encoded.c_str();
    ASSERT_GT(line.size(), max_header_line);
    std::string out;
    ASSERT_TRUE(fold_header_line(line, out));
    // Unfolded as a reader joins a folded Subject: the line ends and the
    // blanks after them go, so adjacent words meet.
    std::string joined;
    for (const std::string& l : lines_of(out)) {
        EXPECT_LE(l.size(), max_header_line);
        joined += l.substr(l.find_first_not_of(' '));
    }
    // Each word is at most 75 bytes and never ends inside a character.
    size_t at = 0, words = 0;
    while ((at = joined.find("=?utf-8?Q?", at)) != std::string::npos) {
        size_t end = joined.find("?=", at + 10);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end + 2 - at, 75u);
        EXPECT_NE(joined.compare(end - 3, 3, "=C3"), 0) << "a lead byte ends word " << words;
        at = end + 2;
        ++words;
    }
    EXPECT_GT(words, 100u);
    std::string decoded = decode_header_text(joined.substr(9).c_str()).c_str();
    EXPECT_EQ(decoded.size(), text.size());
    EXPECT_TRUE(decoded == text);
}

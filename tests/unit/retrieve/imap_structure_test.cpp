#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "retrieve/imap_structure.h"

namespace {

// The fields the receive driver prints, one row per part.
struct Row {
    std::string number, content_type, charset, encoding, name, filename;
    double size, lines;
};

std::vector<imap_part> parsed(const char* text)
{
    List<imap_part> parts;
    parse_structure(text, parts);
    std::vector<imap_part> out;
    imap_part part;
    while (parts.take_first(part)) out.push_back(part);
    return out;
}

// Leaves as servers write them, to build the multiparts below from.
#define PLAIN(size, lines) \
    "(\"TEXT\" \"PLAIN\" (\"CHARSET\" \"UTF-8\") NIL NIL \"QUOTED-PRINTABLE\" " #size " " #lines " NIL NIL NIL NIL)"
#define HTML(size, lines) \
    "(\"TEXT\" \"HTML\" (\"CHARSET\" \"UTF-8\") NIL NIL \"QUOTED-PRINTABLE\" " #size " " #lines " NIL NIL NIL NIL)"
#define OCTETS(file, size) \
    "(\"APPLICATION\" \"OCTET-STREAM\" (\"NAME\" \"" file "\") NIL NIL \"BASE64\" " #size \
    " NIL (\"ATTACHMENT\" (\"FILENAME\" \"" file "\")) NIL NIL)"
#define ENVELOPE                                                                                         \
    "(\"Tue, 2 Jan 2024 09:30:00 +0100\" \"Re: the plan :) \\\"(draft\\\"\" ((\"Ann Example\" NIL \"ann\" " \
    "\"example.org\")) ((\"Ann Example\" NIL \"ann\" \"example.org\")) NIL ((\"Bob\" NIL \"bob\" "       \
    "\"example.net\")) NIL NIL NIL \"<1234@example.org>\")"

}  // namespace

TEST(ParseStructure, ServerTexts)
{
    struct Case {
        const char* what;
        const char* text;
        std::vector<Row> rows;
    } cases[] = {
        {"single text part",
         R"bs(("TEXT" "PLAIN" ("CHARSET" "US-ASCII") NIL NIL "7BIT" 3028 92 NIL NIL NIL NIL))bs",
         {{"1", "TEXT/PLAIN", "US-ASCII", "7BIT", "", "", 3028, 92}}},
        {"lower case, as some servers write it; no extension data",
         R"bs(("text" "plain" ("charset" "iso-8859-1" "format" "flowed") NIL NIL "8bit" 45 2))bs",
         {{"1", "text/plain", "iso-8859-1", "8bit", "", "", 45, 2}}},
        {"encoding NIL kept as sent",
         R"bs(("APPLICATION" "X-UNKNOWN" NIL NIL NIL NIL 17 NIL NIL NIL NIL))bs",
         {{"1", "APPLICATION/X-UNKNOWN", "", "NIL", "", "", 17, 0}}},
        {"alternative of text and html",
         "(" PLAIN(1152, 23) HTML(4521, 88) " \"ALTERNATIVE\" (\"BOUNDARY\" \"b1_alt\") NIL NIL NIL)",
         {{"TEXT", "MULTIPART/ALTERNATIVE", "", "", "", "", 0, 0},
          {"1", "TEXT/PLAIN", "UTF-8", "QUOTED-PRINTABLE", "", "", 1152, 23},
          {"2", "TEXT/HTML", "UTF-8", "QUOTED-PRINTABLE", "", "", 4521, 88}}},
        {"mixed holding an alternative and an attachment",
         R"bs(((("TEXT" "PLAIN" ("CHARSET" "ISO-8859-1") NIL NIL "7BIT" 300 10 NIL NIL NIL NIL))bs"
         R"bs(("TEXT" "HTML" ("CHARSET" "ISO-8859-1") NIL NIL "QUOTED-PRINTABLE" 900 20 NIL NIL NIL NIL))bs"
         R"bs( "ALTERNATIVE" ("BOUNDARY" "inner") NIL NIL NIL))bs"
         R"bs(("APPLICATION" "PDF" ("NAME" "report.pdf") NIL "Quarterly report" "BASE64" 52340 NIL)bs"
         R"bs( ("ATTACHMENT" ("FILENAME" "report.pdf" "SIZE" "38250")) NIL NIL))bs"
         R"bs( "MIXED" ("BOUNDARY" "outer") NIL NIL NIL))bs",
         {{"TEXT", "MULTIPART/MIXED", "", "", "", "", 0, 0},
          {"1", "MULTIPART/ALTERNATIVE", "", "", "", "", 0, 0},
          {"1.1", "TEXT/PLAIN", "ISO-8859-1", "7BIT", "", "", 300, 10},
          {"1.2", "TEXT/HTML", "ISO-8859-1", "QUOTED-PRINTABLE", "", "", 900, 20},
          {"2", "APPLICATION/PDF", "", "BASE64", "report.pdf", "report.pdf", 52340, 0}}},
        {"two sibling alternatives in one mixed",
         "((" PLAIN(11, 1) HTML(12, 2) " \"ALTERNATIVE\" (\"BOUNDARY\" \"a1\") NIL NIL NIL)"
         "(" PLAIN(21, 3) HTML(22, 4) " \"ALTERNATIVE\" (\"BOUNDARY\" \"a2\") NIL NIL NIL)"
         " \"MIXED\" (\"BOUNDARY\" \"m\") NIL NIL NIL)",
         {{"TEXT", "MULTIPART/MIXED", "", "", "", "", 0, 0},
          {"1", "MULTIPART/ALTERNATIVE", "", "", "", "", 0, 0},
          {"1.1", "TEXT/PLAIN", "UTF-8", "QUOTED-PRINTABLE", "", "", 11, 1},
          {"1.2", "TEXT/HTML", "UTF-8", "QUOTED-PRINTABLE", "", "", 12, 2},
          {"2", "MULTIPART/ALTERNATIVE", "", "", "", "", 0, 0},
          {"2.1", "TEXT/PLAIN", "UTF-8", "QUOTED-PRINTABLE", "", "", 21, 3},
          {"2.2", "TEXT/HTML", "UTF-8", "QUOTED-PRINTABLE", "", "", 22, 4}}},
        {"related inside alternative inside mixed: two levels close at once",
         "((" PLAIN(1, 1) "(" HTML(2, 2)
         "(\"IMAGE\" \"PNG\" (\"NAME\" \"logo.png\") \"<logo@example.org>\" NIL \"BASE64\" 4000 NIL"
         " (\"INLINE\" NIL) NIL NIL)"
         " \"RELATED\" (\"TYPE\" \"text/html\" \"BOUNDARY\" \"r\") NIL NIL)"
         " \"ALTERNATIVE\" (\"BOUNDARY\" \"a\") NIL NIL)" OCTETS("data.bin", 99)
         " \"MIXED\" (\"BOUNDARY\" \"m\") NIL NIL)",
         {{"TEXT", "MULTIPART/MIXED", "", "", "", "", 0, 0},
          {"1", "MULTIPART/ALTERNATIVE", "", "", "", "", 0, 0},
          {"1.1", "TEXT/PLAIN", "UTF-8", "QUOTED-PRINTABLE", "", "", 1, 1},
          {"1.2", "MULTIPART/RELATED", "", "", "", "", 0, 0},
          {"1.2.1", "TEXT/HTML", "UTF-8", "QUOTED-PRINTABLE", "", "", 2, 2},
          {"1.2.2", "IMAGE/PNG", "", "BASE64", "logo.png", "", 4000, 0},
          {"2", "APPLICATION/OCTET-STREAM", "", "BASE64", "data.bin", "data.bin", 99, 0}}},
        {"attached message: envelope and inner structure skipped, its own line count read",
         "(" PLAIN(120, 5) "(\"MESSAGE\" \"RFC822\" NIL NIL \"Forwarded (see below)\" \"7BIT\" 2150 " ENVELOPE
         " (" PLAIN(800, 20) OCTETS("inner.bin", 600) " \"MIXED\" (\"BOUNDARY\" \"in\") NIL NIL NIL)"
         " 48 NIL (\"ATTACHMENT\" (\"FILENAME\" \"fwd.eml\")) NIL NIL)"
         " \"MIXED\" (\"BOUNDARY\" \"out\") NIL NIL NIL)",
         {{"TEXT", "MULTIPART/MIXED", "", "", "", "", 0, 0},
          {"1", "TEXT/PLAIN", "UTF-8", "QUOTED-PRINTABLE", "", "", 120, 5},
          {"2", "MESSAGE/RFC822", "", "7BIT", "", "fwd.eml", 2150, 48}}},
        {"the numbering example of RFC 3501: multipart after leaves, messages with multiparts inside",
         "(" PLAIN(10, 1) OCTETS("a.bin", 20) "(\"MESSAGE\" \"RFC822\" NIL NIL NIL \"7BIT\" 30 " ENVELOPE
         " (" PLAIN(5, 1) OCTETS("b.bin", 6) " \"MIXED\" NIL NIL NIL) 3 NIL NIL NIL NIL)"
         "((\"IMAGE\" \"GIF\" NIL NIL NIL \"BASE64\" 40 NIL NIL NIL NIL)"
         "(\"MESSAGE\" \"RFC822\" NIL NIL NIL \"7BIT\" 50 " ENVELOPE " (" PLAIN(7, 1) "(" PLAIN(8, 1)
         "(\"TEXT\" \"RICHTEXT\" NIL NIL NIL \"7BIT\" 9 1 NIL NIL NIL NIL) \"ALTERNATIVE\" NIL NIL NIL)"
         " \"MIXED\" NIL NIL NIL) 5 NIL NIL NIL NIL) \"MIXED\" NIL NIL NIL) \"MIXED\" NIL NIL NIL)",
         {{"TEXT", "MULTIPART/MIXED", "", "", "", "", 0, 0},
          {"1", "TEXT/PLAIN", "UTF-8", "QUOTED-PRINTABLE", "", "", 10, 1},
          {"2", "APPLICATION/OCTET-STREAM", "", "BASE64", "a.bin", "a.bin", 20, 0},
          {"3", "MESSAGE/RFC822", "", "7BIT", "", "", 30, 3},
          {"4", "MULTIPART/MIXED", "", "", "", "", 0, 0},
          {"4.1", "IMAGE/GIF", "", "BASE64", "", "", 40, 0},
          {"4.2", "MESSAGE/RFC822", "", "7BIT", "", "", 50, 5}}},
        {"only the first parameter pair: charset then name leaves name empty",
         R"bs(("APPLICATION" "OCTET-STREAM" ("CHARSET" "us-ascii" "NAME" "data.bin") NIL NIL "BASE64" 1000)bs"
         R"bs( NIL ("ATTACHMENT" ("SIZE" "730" "FILENAME" "data.bin")) NIL NIL))bs",
         {{"1", "APPLICATION/OCTET-STREAM", "us-ascii", "BASE64", "", "", 1000, 0}}},
        {"a quoted file name holding ')' and an escaped quote",
         R"bs((("APPLICATION" "PDF" ("NAME" "notes (v2) \"final\".pdf") NIL NIL "BASE64" 2048 NIL)bs"
         R"bs( ("ATTACHMENT" ("FILENAME" "notes (v2) \"final\".pdf")) NIL NIL))bs"
         R"bs(("TEXT" "PLAIN" ("CHARSET" "US-ASCII") NIL NIL "7BIT" 12 1 NIL NIL NIL NIL))bs"
         R"bs( "MIXED" ("BOUNDARY" "x)y") NIL NIL))bs",
         {{"TEXT", "MULTIPART/MIXED", "", "", "", "", 0, 0},
          {"1", "APPLICATION/PDF", "", "BASE64", "notes (v2) \"final\".pdf", "notes (v2) \"final\".pdf", 2048, 0},
          {"2", "TEXT/PLAIN", "US-ASCII", "7BIT", "", "", 12, 1}}},
        {"language list, location and an MD5 before the disposition",
         R"bs((("TEXT" "PLAIN" ("CHARSET" "UTF-8") NIL NIL "7BIT" 10 1 "Q2hlY2sgSW50ZWdyaXR5IQ==")bs"
         R"bs( ("INLINE" NIL) ("EN" "DE") "http://example.org/a" ("x" ("y" NIL))))bs"
         R"bs(("IMAGE" "JPEG" NIL NIL NIL "BASE64" 20 "bWQ1" ("ATTACHMENT" ("FILENAME" "p.jpg")) "EN" NIL))bs"
         R"bs( "MIXED" ("BOUNDARY" "m") ("INLINE" NIL) ("EN" "FR") "loc"))bs",
         {{"TEXT", "MULTIPART/MIXED", "", "", "", "", 0, 0},
          {"1", "TEXT/PLAIN", "UTF-8", "7BIT", "", "", 10, 1},
          {"2", "IMAGE/JPEG", "", "BASE64", "", "p.jpg", 20, 0}}},
        {"no extension data at all, and a subtype outside the usual ones",
         "((\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 10 1)((\"APPLICATION\" \"APPLEFILE\" NIL NIL NIL \"BASE64\" 30)"
         "(\"IMAGE\" \"PNG\" NIL NIL NIL \"BASE64\" 40) \"APPLEDOUBLE\") \"MIXED\")",
         {{"TEXT", "MULTIPART/MIXED", "", "", "", "", 0, 0},
          {"1", "TEXT/PLAIN", "", "7BIT", "", "", 10, 1},
          {"2", "MULTIPART/APPLEDOUBLE", "", "", "", "", 0, 0},
          {"2.1", "APPLICATION/APPLEFILE", "", "BASE64", "", "", 30, 0},
          {"2.2", "IMAGE/PNG", "", "BASE64", "", "", 40, 0}}},
        {"what follows the closed structure is not read",
         R"bs(("TEXT" "PLAIN" NIL NIL NIL "7BIT" 5 1) UID 7 ("TEXT" "HTML" NIL NIL NIL "7BIT" 6 1)))bs",
         {{"1", "TEXT/PLAIN", "", "7BIT", "", "", 5, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<imap_part> got = parsed(c.text);
        ASSERT_EQ(got.size(), c.rows.size());
        for (size_t i = 0; i < got.size(); ++i) {
            const imap_part& p = got[i];
            const Row& want = c.rows[i];
            SCOPED_TRACE(want.number);
            EXPECT_STREQ(p.part_number.c_str(), want.number.c_str());
            EXPECT_STREQ(p.content_type.c_str(), want.content_type.c_str());
            EXPECT_STREQ(p.charset.c_str(), want.charset.c_str());
            EXPECT_STREQ(p.encoding.c_str(), want.encoding.c_str());
            EXPECT_STREQ(p.name.c_str(), want.name.c_str());
            EXPECT_STREQ(p.filename.c_str(), want.filename.c_str());
            EXPECT_EQ(p.size, want.size);
            EXPECT_EQ(p.lines, want.lines);
        }
    }
}

TEST(ParseStructure, IdDescriptionDispositionTypeAndDepth)
{
    std::vector<imap_part> got = parsed(
        "((\"TEXT\" \"CALENDAR\" (\"TYPE\" \"request\" \"CHARSET\" \"UTF-8\") NIL NIL \"7BIT\" 300 12 NIL NIL NIL)"
        "(\"IMAGE\" \"PNG\" (\"NAME\" \"logo.png\") \"<logo@example.org>\" \"The (round) \\\"logo\\\"\" \"BASE64\""
        " 4000 NIL (\"inline\" NIL) NIL NIL) \"MIXED\" NIL NIL NIL)");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].depth, 1);
    EXPECT_STREQ(got[1].type.c_str(), "request");
    EXPECT_STREQ(got[1].charset.c_str(), "");
    EXPECT_STREQ(got[1].content_id.c_str(), "");
    EXPECT_STREQ(got[1].description.c_str(), "");
    EXPECT_STREQ(got[1].disposition.c_str(), "");
    EXPECT_EQ(got[1].depth, 2);
    EXPECT_STREQ(got[2].content_id.c_str(), "<logo@example.org>");
    EXPECT_STREQ(got[2].description.c_str(), "The (round) \"logo\"");
    EXPECT_STREQ(got[2].disposition.c_str(), "inline");
    EXPECT_STREQ(got[2].filename.c_str(), "");
    EXPECT_STREQ(got[2].part_number.c_str(), "2");
}

TEST(ParseStructure, EmptiesTheListFirst)
{
    List<imap_part> parts;
    parse_structure("(\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 5 1)", parts);
    parse_structure("(\"TEXT\" \"HTML\" NIL NIL NIL \"7BIT\" 6 1)", parts);
    ASSERT_EQ(parts.count(), 1);
    parse_structure("", parts);
    EXPECT_EQ(parts.count(), 0);
    parse_structure(nullptr, parts);
    EXPECT_EQ(parts.count(), 0);
}

// Broken and hostile texts: the parse ends, stays in bounds (the sanitizer
// build and the fuzz target watch the bytes) and numbers every part it lists.
TEST(ParseStructure, HostileTexts)
{
    const char* texts[] = {
        "(", ")", "((((", "))))", "\"", "(\"TEXT", "(\"TEXT\" \"PLAIN\" (\"CHARSET",
        "(\"TEXT\" \"PLAIN\" (\"CHARSET\" \"a\\", "(\"MESSAGE\" \"RFC822\" NIL NIL NIL \"7BIT\" 1 (\"x\" (",
        "(\"A\" \"B\" NIL NIL NIL \"7BIT\" 1 NIL (\"ATTACHMENT\" (\"FILENAME\"",
        "(() () ()) \"MIXED\"", "\"MIXED\" \"ALTERNATIVE\")", "NIL NIL NIL NIL", " \t\r\n",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        for (const imap_part& part : parsed(text)) EXPECT_FALSE(part.part_number.empty());
    }
}

TEST(ParseStructure, DeepAndLargeTextsStayBoundedAndQuick)
{
    auto started = std::chrono::steady_clock::now();

    // Multiparts nested 300 deep around one text: the levels past 255 are not
    // counted, and nothing is written past the counters.
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "(";
    deep += "\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 1 1)";
    for (int i = 1; i < 300; ++i) deep += " \"MIXED\" NIL)";
    std::vector<imap_part> got = parsed(deep.c_str());
    ASSERT_EQ(got.size(), 300u);
    EXPECT_STREQ(got[0].part_number.c_str(), "TEXT");
    EXPECT_STREQ(got[1].part_number.c_str(), "1");
    EXPECT_STREQ(got[2].part_number.c_str(), "1.1");
    EXPECT_EQ(got[299].depth, 300);
    EXPECT_STREQ(got[299].content_type.c_str(), "TEXT/PLAIN");

    // A mebibyte of open parentheses, of quotes, of sibling parts (cut at the
    // bound on parts), and a wide multipart under the bound, numbered through.
    EXPECT_EQ(parsed(std::string(1 << 20, '(').c_str()).size(), 1u);
    EXPECT_LE(parsed(std::string(1 << 20, '"').c_str()).size(), 1u);
    const std::string leaf = "(\"A\" \"B\" NIL NIL NIL \"7BIT\" 1 NIL)";
    std::string many = "(";
    while (many.size() < (1u << 20)) many += leaf;
    many += " \"MIXED\")";
    EXPECT_EQ(parsed(many.c_str()).size(), 10000u);
    std::string wide = "(";
    for (int i = 0; i < 5000; ++i) wide += leaf;
    wide += " \"MIXED\")";
    got = parsed(wide.c_str());
    ASSERT_EQ(got.size(), 5001u);
    EXPECT_STREQ(got[0].part_number.c_str(), "TEXT");
    EXPECT_STREQ(got[5000].part_number.c_str(), "5000");

    // Linear work: all of this takes well under a second; minutes would mean
    // a quadratic walk. Only a hang is reported, never a slow machine.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}

TEST(StructureTextOf, FetchLines)
{
    struct Case {
        const char* line;
        const char* want;
    } cases[] = {
        {"* 12 FETCH (UID 4711 FLAGS (\\Seen) BODYSTRUCTURE (\"TEXT\" \"PLAIN\" (\"CHARSET\" \"US-ASCII\") NIL "
         "NIL \"7BIT\" 3028 92 NIL NIL NIL NIL))\r\n",
         "(\"TEXT\" \"PLAIN\" (\"CHARSET\" \"US-ASCII\") NIL NIL \"7BIT\" 3028 92 NIL NIL NIL NIL)"},
        {"* 3 FETCH (bodystructure ((\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 1 1)(\"TEXT\" \"HTML\" NIL NIL NIL "
         "\"7BIT\" 2 1) \"ALTERNATIVE\") UID 9)",
         "((\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 1 1)(\"TEXT\" \"HTML\" NIL NIL NIL \"7BIT\" 2 1) "
         "\"ALTERNATIVE\")"},
        {"* 1 FETCH (BODYSTRUCTURE (\"APPLICATION\" \"PDF\" (\"NAME\" \"a) \\\"b\\\" (c.pdf\") NIL NIL \"BASE64\" "
         "7 NIL) UID 2)",
         "(\"APPLICATION\" \"PDF\" (\"NAME\" \"a) \\\"b\\\" (c.pdf\") NIL NIL \"BASE64\" 7 NIL)"},
        {"* 1 FETCH (UID 2 FLAGS (\\Seen))", ""},
        {"* 1 FETCH (UID 2 BODYSTRUCTURE", ""},
        {"* 1 FETCH (BODYSTRUCTURE (\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 1 1", ""},
        {"* 1 FETCH (BODYSTRUCTURE (\"TEXT\" \"PLAIN\" (\"NAME\" \"open)) ", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_STREQ(structure_text_of(c.line).c_str(), c.want) << c.line;
    EXPECT_STREQ(structure_text_of(nullptr).c_str(), "");
}

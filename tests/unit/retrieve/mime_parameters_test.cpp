#include <gtest/gtest.h>

#include <string>

#include "retrieve/mime_parameters.h"

TEST(ExtendedParameter, Forms)
{
    struct Case {
        const char* header;
        const char* name;
        bool found;
        const char* value;
        const char* charset;
    } cases[] = {
        // One extended value.
        {"attachment; filename*=UTF-8''na%C3%AFve%20file.txt", "filename", true,
         "na\xC3\xAFve file.txt", "UTF-8"},
        {"attachment; filename*=iso-8859-1'en'%A3%20rates.txt", "filename", true, "\xA3 rates.txt",
         "iso-8859-1"},
        {"attachment;FILENAME*=us-ascii''plain.txt\r\n", "filename", true, "plain.txt", "us-ascii"},
        {"attachment; filename* = UTF-8''spaced.txt ; size=10", "filename", true, "spaced.txt", "UTF-8"},
        // Extended sections.
        {"attachment; filename*0*=UTF-8''%E2%82%AC%20rates; filename*1*=%20and%20more.pdf", "filename", true,
         "\xE2\x82\xAC rates and more.pdf", "UTF-8"},
        // Plain quoted sections: quotes and escapes go, no percent-decoding.
        {"application/pdf; name*0=\"long name \"; name*1=\"part two.pdf\"", "name", true,
         "long name part two.pdf", ""},
        {"application/pdf; name*0=\"say \\\"hi\\\" \"; name*1=100%25.pdf", "name", true,
         "say \"hi\" 100%25.pdf", ""},
        // Extended and plain sections mixed; only starred ones are decoded.
        {"attachment; filename*0*=utf-8''caf%C3%A9; filename*1=\"%20menu\"; filename*2*=%2Etxt", "filename",
         true, "caf\xC3\xA9%20menu.txt", "utf-8"},
        // Out of order, joined by number.
        {"attachment; filename*2=c.txt; filename*0=a; filename*1=b", "filename", true, "abc.txt", ""},
        // A missing section ends the value; without section 0 nothing is left.
        {"attachment; filename*0=a; filename*1=b; filename*3=d", "filename", true, "ab", ""},
        {"attachment; filename*1=b; filename*2=c", "filename", true, "", ""},
        // A number given twice: the first counts.
        {"attachment; filename*0=first; filename*0=second", "filename", true, "first", ""},
        // Section numbers stop at 99.
        {"attachment; filename*0=a; filename*100=b", "filename", true, "a", ""},
        // Escapes that are not two hex digits stay; %00 stays.
        {"attachment; filename*=utf-8''100%.txt", "filename", true, "100%.txt", "utf-8"},
        {"attachment; filename*=utf-8''%zz%4%e9%00x%", "filename", true, "%zz%4\xE9%00x%", "utf-8"},
        // No charset prefix: the whole value is decoded.
        {"attachment; filename*=no%20quotes.txt", "filename", true, "no quotes.txt", ""},
        // Quoted extended value (seen in the wild).
        {"attachment; filename*=\"UTF-8''quoted%20ext.txt\"", "filename", true, "quoted ext.txt", "UTF-8"},
        // Both forms: only the starred one is read here.
        {"attachment; filename=\"fallback.txt\"; filename*=UTF-8''real%21.txt", "filename", true, "real!.txt",
         "UTF-8"},
        {"attachment; filename=\"plain.txt\"", "filename", false, "", ""},
        // A lone name* counts over sections.
        {"attachment; filename*0=sect; filename*=UTF-8''lone", "filename", true, "lone", "UTF-8"},
        // "name" is not the end of another parameter's name.
        {"attachment; filename*=UTF-8''file.txt", "name", false, "", ""},
        {"attachment; xname*=UTF-8''x.txt; name*=UTF-8''n.txt", "name", true, "n.txt", "UTF-8"},
        // Nor inside another parameter's quoted value.
        {"attachment; filename=\"a; name*=x\"", "name", false, "", ""},
        {"attachment; filename=\"a; name*=x\"; name*=y''z", "name", true, "z", "y"},
        // Nor in the type itself, nor on the next line.
        {"name*=UTF-8''x", "name", false, "", ""},
        {"text/plain\r\n; name*=UTF-8''x", "name", false, "", ""},
        // Not a form: wrong suffix, no '='.
        {"attachment; filename*x=a; filename*0x=b; filename*; filename**=c", "filename", false, "", ""},
        {"", "filename", false, "", ""},
    };
    for (const auto& c : cases) {
        string value("untouched"), charset("untouched");
        bool found = extended_parameter(c.header, c.name, value, charset);
        EXPECT_EQ(found, c.found) << c.header;
        if (!c.found) {
            EXPECT_STREQ(value.c_str(), "untouched") << c.header;
            continue;
        }
        EXPECT_EQ(std::string(value.c_str(), value.length()), c.value) << c.header;
        EXPECT_STREQ(charset.c_str(), c.charset) << c.header;
    }
}

TEST(ExtendedParameter, UnclosedQuoteRunsToTheLineEnd)
{
    string value, charset;
    EXPECT_TRUE(extended_parameter("attachment; filename*0=\"open end\r\nnext", "filename", value, charset));
    EXPECT_STREQ(value.c_str(), "open end");
    EXPECT_FALSE(extended_parameter(nullptr, "filename", value, charset));
    EXPECT_FALSE(extended_parameter("a; *=x", "", value, charset));
}

// A hundred sections of one byte each is the most that is joined.
TEST(ExtendedParameter, AtMostOneHundredSections)
{
    std::string header = "attachment";
    for (int i = 0; i <= 100; ++i) header += "; filename*" + std::to_string(i) + "=" + char('a' + i % 26);
    string value, charset;
    ASSERT_TRUE(extended_parameter(header.c_str(), "filename", value, charset));
    EXPECT_EQ(value.length(), 100u);
    EXPECT_EQ(value.char_at(99), 'a' + 99 % 26);
}

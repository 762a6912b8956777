#include <gtest/gtest.h>

#include <string>

#include "retrieve/part_names.h"

TEST(SanitizeFileName, Cases)
{
    using namespace std::string_literals;
    struct Case { std::string in, want; } cases[] = {
        {"report.pdf", "report.pdf"},
        {"Quarterly Report (final) v2+3 $~_-.txt", "Quarterly Report (final) v2+3 $~_-.txt"},
        {"tab\there", "tab\there"},
        {"../../etc/passwd", ".._.._etc_passwd"},
        {"..\\..\\boot.ini", ".._.._boot.ini"},
        {"/abs", "_abs"},
        {"c:autoexec.bat", "c_autoexec.bat"},
        {"a<b>c|d?e*f\"g'h", "a_b_c_d_e_f_g_h"},
        {"na\xC3\xAFve \xE2\x82\xAC.txt", "na\xC3\xAFve \xE2\x82\xAC.txt"},
        {"\x80\xFF", "\x80\xFF"},
        {"line\r\nend", "line__end"},
        {"lf\nonly", "lf_only"},
        {"nul\0byte"s, "nul_byte"},
        {"\x01\x1F\x7F\v\f", "_____"},
        {"%41=;,@#!", "_41______"},
        {".", "_"},
        {"..", "__"},
        {"...", "..."},
        {".hidden", ".hidden"},
        {" ..", " .."},
        {"", ""},
    };
    for (const auto& c : cases) {
        string got = sanitize_file_name(string(c.in.data(), c.in.size()));
        EXPECT_EQ(std::string(got.c_str(), got.length()), c.want) << c.in;
    }
    EXPECT_STREQ(sanitize_file_name(nullptr, 3).c_str(), "");
}

// The script functions' argument vectors and errors, with a recorder in
// place of the engine, called through the library's entry point.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/option_state.h"
#include "base/text_stream.h"
#include "extender/zeb_tavrin.h"
#include "../../support/host_result.h"

extern "C" int32_t ZEBExtender2(void*, intptr_t, int32_t, int16_t, ZebResultCallback, ZebServices*, intptr_t, void*,
                                int32_t, ZebValue*);

namespace {

std::vector<std::string> recorded;
int engine_result = 0;

int recorder(int argc, const char* const* argv)
{
    recorded.assign(argv, argv + argc);
    return engine_result;
}

// Calls a function with text arguments ("\x01" marks an absent one).
HostResult call(ZebIndex index, std::vector<std::string> args)
{
    std::vector<ZebValue> records(args.size() + 1);
    std::memset(records.data(), 0, records.size() * sizeof(ZebValue));
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "\x01") continue;
        records[i].type = zeb_text;
        records[i].text = args[i].c_str();
    }
    ZebServices services{};
    services.version = 1005;
    ZebValue result{};
    recorded.clear();
    last = HostResult();
    ZEBExtender2(nullptr, 0, 0, index, on_result, &services, 0, records.data(), static_cast<int32_t>(args.size()),
                 &result);
    return last;
}

std::string joined()
{
    std::string s;
    for (const std::string& a : recorded) s += (s.empty() ? "" : " ") + a;
    return s;
}

class ScriptFunctions : public ::testing::Test {
protected:
    void SetUp() override
    {
        CZebTavrin& x = zeb_tavrin();
        x.engine_entry = recorder;
        x.init_done = x.destinations_done = 0;
        x.remembered = 0;
        engine_result = 0;
    }
    void TearDown() override { zeb_tavrin().engine_entry = recorder; }
    void init(const std::string& security = "\x01", const std::string& user = "", const std::string& sender = "me@x.org")
    {
        ASSERT_EQ(call(kinit, {"mail.x.org", sender, user, user.empty() ? "" : "secret", "2525", security}).code, 0);
    }
};

}  // namespace

TEST_F(ScriptFunctions, SendBeforeInitOrDestIsRefused)
{
    EXPECT_EQ(call(ksendtext, {"s", "t", "", ""}).text.substr(0, 6), "15123:");
    init();
    EXPECT_EQ(call(ksendtext, {"s", "t", "", ""}).code, -1);
    EXPECT_TRUE(recorded.empty());
    EXPECT_EQ(call(kgetmail, {"", "", "", "", ""}).code, 0);  // receiving needs no kdest
}

TEST_F(ScriptFunctions, SendVectors)
{
    init();
    ASSERT_EQ(call(kdest, {"a@x.org||b@x.org", "c@x.org", ""}).code, 0);
    struct Case { std::string attachments, flags, expected_tail; } cases[] = {
        {"", "", "-s:Hi -msg:Body -normal"},
        {"", "12", "-s:Hi -msg:Body -high"},
        {"", "2", "-s:Hi -msg:Body -low"},
        {"one.pdf|two.doc\t", "hamdu", "-s:Hi -msg:Body -a:one.pdf -a:two.doc -html -alt -uue -mdn -dsn -normal"},
        {"", "c", "-s:Hi -msg:Body -normal -crammd5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(call(ksendtext, {"Hi", "Body", c.attachments, c.flags}).integer, 1);
        EXPECT_EQ(joined(), "tavrin.exe -host:mail.x.org -port:2525 -to:a@x.org,b@x.org -from:me@x.org -cc:c@x.org " +
                                c.expected_tail)
            << c.flags;
    }
    engine_result = 1;
    EXPECT_EQ(call(ksendfile, {"Hi", "/tmp/body.txt", "", "n"}).integer, 0);
    EXPECT_EQ(joined(), "tavrin.exe -host:mail.x.org -news -port:2525 -to:a@x.org,b@x.org -from:me@x.org -cc:c@x.org "
                        "-s:Hi -file:/tmp/body.txt -normal");
}

TEST_F(ScriptFunctions, AccountAndSecurity)
{
    init("TLS", "joe", "me@x.org|reply@x.org");
    EXPECT_EQ(zeb_tavrin().security, 2);
    call(kdest, {"a@x.org", "", ""});
    call(ksendtext, {"s", "m", "", "e"});
    EXPECT_EQ(joined(), "tavrin.exe -host:mail.x.org -user:joe -pass:secret -port:2525 -to:a@x.org -from:me@x.org "
                        "-replyto:reply@x.org -s:s -msg:m -normal -esmtp -tls");
    call(kdeletepop3, {"3"});
    EXPECT_EQ(joined(), "tavrin.exe -host:mail.x.org -user:joe -pass:secret -port:2525 -msg:3 -rm -ssl -tls");
    init("ssl", "", "|reply@x.org");
    EXPECT_STREQ(zeb_tavrin().from.c_str(), "-from:reply@x.org");
    EXPECT_STREQ(zeb_tavrin().replyto.c_str(), "");
    EXPECT_EQ(call(ksendtext, {"s", "m", "", "e"}).text.substr(0, 6), "15144:");
    EXPECT_EQ(call(kinit, {"h", "", "", "", "", "none"}).text.substr(0, 6), "15147:");
    EXPECT_EQ(zeb_tavrin().init_done, 0);
}

TEST_F(ScriptFunctions, GetMailVectorsAndPatterns)
{
    init();
    struct Case { std::vector<std::string> args; std::string expected; } cases[] = {
        {{"", "", "", "", ""}, "-extract:"},
        {{"2", "out.txt", "Invoice", "", "hf"}, "-msg:2 -file:out.txt -extract: -pat:Invoice -br -full"},
        {{"", "", "|spam", "", ""}, "-extract: -nopat:spam"},
        {{"", "", "", "", "4"}, "-extract: -imap"},
        {{"", "", "", "Archive", "4ctgr"}, "-extract: -imap -mbox:Archive -receipt -text -dh -raw"},
        {{"", "", "", "Archive", ""}, "-extract:"},
        {{"5", "", "", "", "d"}, "-msg:5 -extract: -rm"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(call(kgetmail, c.args).code, 0);
        EXPECT_EQ(joined(), "tavrin.exe -host:mail.x.org -port:2525 " + c.expected);
    }
    // The message of a kgetmail with "d" is repeated by kmanageimap4.
    EXPECT_EQ(call(kmanageimap4, {"PURGE", "Trash"}).integer, 1);
    EXPECT_EQ(joined(), "tavrin.exe -host:mail.x.org -port:2525 -imap -mbox:Trash -msg:5 -purge");
    call(kgetmail, {"", "", "", "", ""});
    call(kmanageimap4, {"create", "New"});
    EXPECT_EQ(joined(), "tavrin.exe -host:mail.x.org -port:2525 -imap -mbox:New -create:New");

    EXPECT_EQ(call(kgetmail, {"", "", "word|", "", ""}).text.substr(0, 6), "15140:");
    EXPECT_EQ(call(kgetmail, {"", "", "|", "", ""}).text.substr(0, 6), "15140:");
    EXPECT_EQ(call(kgetmail, {"", "", "one|two", "", ""}).text.substr(0, 6), "15139:");
    EXPECT_EQ(call(kmanageimap4, {"destroy", "x"}).text, "15341: Parameter one - string is too long.");
}

TEST_F(ScriptFunctions, ExtraSettingsAndReports)
{
    EXPECT_EQ(call(kextra, {"utf-8", "1", "relay.x.org"}).code, 0);
    EXPECT_STREQ(process_state().kextra_charset.c_str(), "utf-8");
    EXPECT_EQ(process_state().kextra_binary, 1);
    EXPECT_STREQ(process_state().kextra_greeting.c_str(), "relay.x.org");
    EXPECT_EQ(call(kextra, {"0", "", "0"}).code, 0);
    EXPECT_STREQ(process_state().kextra_charset.c_str(), "");
    EXPECT_EQ(process_state().kextra_binary, 0);
    EXPECT_STREQ(process_state().kextra_greeting.c_str(), "");

    report_stream << "There are 2 messages\r\n";
    error_stream << "WARNING: x\r\n";
    EXPECT_EQ(call(kstatusinfo, {}).text, "There are 2 messages\r\nWARNING: x\r\n");
    call(kdest, {"a@x.org", "", ""});
    EXPECT_EQ(call(kstatusinfo, {}).text, "");
    EXPECT_EQ(call(kdest, {"", "", ""}).text.substr(0, 6), "15351:");
    EXPECT_EQ(call(kdest, {"\x01", "", ""}).text.substr(0, 6), "15331:");
}

TEST_F(ScriptFunctions, LargeReportsUseAHeapBuffer)
{
    std::string big(100000, 'r');
    report_stream << big.c_str();
    EXPECT_EQ(call(kstatusinfo, {}).text.size(), 100000u);
    clear_report();
}

TEST(SystemErrors, DetailIsAtMost192CharactersAndEndsInDots)
{
    std::string words;
    while (words.size() < 300) words += "word ";
    string detail;
    setenv("XDG_CONFIG_HOME", "/tmp/tavrin-syserr-config", 1);
    int32_t id = system_error_for_text(zeb_tavrin(), 11004, 0x80070002ul, string(words.substr(0, 300).c_str()), detail);
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(id, 11003);
    EXPECT_LE(detail.length(), 192u);
    EXPECT_EQ(std::string(detail.c_str()).substr(detail.length() - 3), "...");
    EXPECT_EQ(std::string(detail.c_str()).rfind("Error code: 80070002\nDescription: word", 0), 0u);
    std::system("rm -rf /tmp/tavrin-syserr-config");
    string short_detail;
    EXPECT_EQ(system_error_for_text(zeb_tavrin(), 11004, 0x80070002ul, string(""), short_detail), 11004);
    EXPECT_EQ(zeb_tavrin().system_error_id(11004, 0, short_detail), 11004);
    EXPECT_EQ(zeb_tavrin().system_error_id(11004, 14, short_detail), 11006);
    EXPECT_EQ(zeb_tavrin().system_error_id(11004, 5, short_detail), 11007);
}

TEST(ScriptFunctionsBoundary, AnyArgumentKindsAndLengthsGiveAResult)
{
    CZebTavrin& x = zeb_tavrin();
    x.engine_entry = recorder;
    const uint32_t kinds[] = {0, zeb_integer, zeb_text, zeb_other};
    const std::string texts[] = {"", std::string(256, 'a'), std::string(257, 'b'), std::string(100000, 'c') + "|x"};
    ZebServices services{};
    services.version = 1005;
    for (int16_t index = 0; index < 10; ++index) {
        for (int combo = 0; combo < 4 * 4 * 4 * 4 * 4 * 4; ++combo) {  // every kind for each of six arguments
            for (const std::string& t : texts) {
                std::vector<ZebValue> records(7);
                std::memset(records.data(), 0, records.size() * sizeof(ZebValue));
                for (int a = 0; a < 6; ++a) {
                    records[a].type = kinds[(combo >> (2 * a)) & 3];
                    records[a].integer = -7 * a;
                    records[a].text = records[a].type & zeb_text ? t.c_str() : nullptr;
                }
                ZebValue result{};
                last = HostResult();
                ZEBExtender2(nullptr, 0, 0, index, on_result, &services, 0, records.data(), 6, &result);
                ASSERT_TRUE(last.code == 0 || last.code == -1) << index << " " << combo;
                if (last.code == -1) {
                    ASSERT_FALSE(last.text.empty());
                }
            }
        }
    }
    clear_report();
}

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "base/alias_table.h"
#include "base/text_utils.h"
#include "engine/address_list.h"
#include "engine/engine_main.h"
#include "engine/option_state.h"
#include "engine/proxy_settings.h"
#include "base/text_stream.h"
#include "../../support/command.h"
#include "../../support/loopback_peer.h"

namespace {

int run(std::vector<const char*> args)
{
    args.insert(args.begin(), "tavrin");
    return engine_main(static_cast<int>(args.size()), args.data());
}

struct Output {
    int status;
    std::string out;
};

Output run_program(const std::string& args)
{
    std::string cmd = std::string(TAVRIN_BINARY) + " " + args + " 2>/dev/null";
    Output result{0, ""};
    FILE* p = popen(cmd.c_str(), "r");
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) result.out.append(buf.data(), n);
    int status = pclose(p);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace

TEST(EngineMain, NoOptionsWritesExactlyTheUsageLines)
{
    EXPECT_EQ(run({}), 1);
    const std::string& text = report_stream.contents();
    ASSERT_EQ(text.rfind("Usage: tavrin [-host:server] [-port:service] [-news [-noarchive]]", 0), 0u);
    size_t lines = 0, pos = 0;
    while ((pos = text.find("\r\n", pos)) != std::string::npos) ++lines, pos += 2;
    EXPECT_EQ(lines, 3u);
    EXPECT_NE(text.find("\r\nUsage: tavrin [-connect:string | -disconnect:string] [-noop] [options...]\r\n"),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(EngineMain, ProgramWritesUsageAndVersionLine)
{
    Output usage = run_program("");
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.out.rfind("Usage: tavrin", 0), 0u);
    Output version = run_program("-osver -noop");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("Major: ", 0), 0u);
    EXPECT_NE(version.out.find(", Platform: 2\r\n"), std::string::npos);
    EXPECT_EQ(version.out.find("\r\n"), version.out.size() - 2);  // one line
}

TEST(EngineMain, NoopSucceedsWithoutSending)
{
    EXPECT_EQ(run({"-noop", "-to:a@example.com"}), 0);
    EXPECT_EQ(error_stream.contents(), "");
}

TEST(EngineMain, TimeoutOutlivesTheCall)
{
    EXPECT_EQ(run({"-tmo:20", "-noop"}), 0);
    EXPECT_EQ(run({"-noop"}), 0);
    EXPECT_EQ(process_state().timeout, 20);
    run({"-tmo:300", "-noop"});
}

TEST(EngineMain, WhichElementsSwitchTheConfigurationOn)
{
    struct Case { std::vector<const char*> args; int want; } cases[] = {
        {{"-port:2525", "-tmo:30"}, 0},
        {{"-firewall:x", "-tunnel:proxy:8080", "-ldap:dir:3389", "-search:(cn=x)", "-base:o=x", "-binddn:cn=a",
          "-bindpwd:p", "-attrib:mail", "-tmo:300"}, 0},
        {{"-port:2525", "-host:mail.example.com"}, 1},
        {{"-port:2525", "-to:a@example.com"}, 1},
        {{"-if:127.0.0.1"}, 1},
        {{"-config:/nonexistent.txt"}, 1},
    };
    for (auto& c : cases) {
        process_state().use_config = 0;
        c.args.push_back("-noop");
        if (c.want == 0) c.args.pop_back();  // "-noop" would switch it on itself
        run(c.args);
        EXPECT_EQ(process_state().use_config, c.want) << c.args[0];
    }
    process_state().use_config = 0;
}

TEST(EngineMain, OptionStateIsResetAfterTheCall)
{
    run({"-host:mail.example.com", "-port:2525", "-noop"});
    EXPECT_STREQ(options().smtp_host.c_str(), "localhost");
    EXPECT_STREQ(options().smtp_port.c_str(), "25");
    process_state().use_config = 0;
}

TEST(EngineMain, FailedSendAndMissingReceiverFailHonestly)
{
    std::string port = "-port:" + closed_port();
    EXPECT_EQ(run({"-to:a@example.com", "-from:b@example.com", "-host:127.0.0.1", port.c_str()}), 1);
    EXPECT_NE(error_stream.contents().find("Could not connect to server: 127.0.0.1:"), std::string::npos);
    EXPECT_EQ(run({"-user:joe", "-pass:x", "-host:127.0.0.1", port.c_str()}), 1);
    EXPECT_NE(error_stream.contents().find("Could not connect to: 127.0.0.1:" + port.substr(6) + ", error= -10061\r\n"),
              std::string::npos)
        << error_stream.contents();
    process_state().use_config = 0;
}

TEST(EngineMain, RmfileIsRemovedAfterTheJobAndReportedAtLevelTwo)
{
    std::string path = "/tmp/tavrin-rmfile-test.txt";
    std::ofstream(path) << "x";
    std::string arg = "-rmfile:" + path;
    EXPECT_EQ(run({arg.c_str(), "-v:2", "-noop"}), 0);
    std::ifstream gone(path);
    EXPECT_FALSE(gone.good());
    EXPECT_NE(report_stream.contents().find("REMOVE '" + path + "' file: "), std::string::npos);
    process_state().use_config = 0;
}

TEST(ProxySettings, ReadFromTheConfigurationFile)
{
    std::string path = "/tmp/tavrin-proxy-test.txt";
    std::ofstream(path) << "HOST ignored.example.com\nproxy_host  \"proxy.example.com\"\r\nPROXY_PORT 3128";
    call_state().config_file = path.c_str();
    read_proxy_settings();
    EXPECT_STREQ(options().proxy_host.c_str(), "proxy.example.com");
    EXPECT_STREQ(options().proxy_port.c_str(), "3128");
    reset_run_options();
    std::remove(path.c_str());
}

TEST(EngineMain, ListFilesReplaceRecipients)
{
    std::string path = "/tmp/tavrin-list-test.txt";
    std::ofstream(path) << "a@example.com  \r\n\r\n# comment@example.com\n\\skipped\nb@example.com";
    std::string arg = "-tolist:" + path;
    EXPECT_EQ(read_address_list(path.c_str(), false), string("a@example.com,b@example.com"));
    EXPECT_EQ(read_address_list(path.c_str(), true), string("a@example.com,# comment@example.com,b@example.com"));
    std::remove(path.c_str());
}

TEST(EngineMain, AliasFileIsReadIntoTheTable)
{
    std::string path = "/tmp/tavrin-alias-test.txt";
    std::ofstream(path) << "# comment: x\nteam: a@example.com,b@example.com # note\n\\x: y\nbad line\n";
    std::string arg = "-alias:" + path;
    int before = alias_patterns().count();
    run({arg.c_str(), "-to:x@example.com", "-from:y@example.com"});
    EXPECT_EQ(alias_patterns().count(), before + 1);
    bool found = false;
    EXPECT_STREQ(translate_address("team", found).c_str(), "a@example.com,b@example.com ");
    std::remove(path.c_str());
    process_state().use_config = 0;
}

TEST(Base64Filters, RoundTripAndSameTextAsCoreutils)
{
    std::string dir = "/tmp/tavrin-filter-test";
    std::string cmd = "mkdir -p " + dir + " && head -c 1000000 /dev/urandom > " + dir + "/in && " + TAVRIN_BINARY +
                      " -encode:base64 < " + dir + "/in > " + dir + "/b64 && " + TAVRIN_BINARY +
                      " -decode:base64 < " + dir + "/b64 | cmp -s - " + dir + "/in && base64 -w 72 " + dir +
                      "/in | cmp -s - <(tr -d '\\r' < " + dir + "/b64) && " + TAVRIN_BINARY + " -encode:base64 -wrap:76 < " +
                      dir + "/in | tr -d '\\r' | cmp -s - <(base64 -w 76 " + dir + "/in)";
    int status = std::system(("bash -c \"" + cmd + "\"").c_str());
    std::system(("rm -rf " + dir).c_str());
    EXPECT_EQ(status, 0);
}

TEST(Base64Filters, UnwritableOutputOrUnreadableInputFailsWithTheReason)
{
    char t[] = "/tmp/tavrin-filter-fail-XXXXXX";
    ASSERT_NE(mkdtemp(t), nullptr);
    std::string dir = t;
    std::ofstream(dir + "/small") << "hello";
    std::ofstream(dir + "/small.b64") << "aGVsbG8=\r\n";
    std::ofstream(dir + "/big", std::ios::binary) << std::string(300000, 'x');  // past any stdio buffer
    const std::string no_space = std::string("ERROR: cannot write the output: ") + std::strerror(ENOSPC) + "\r\n";
    const std::string is_folder = std::string("ERROR: cannot read the input: ") + std::strerror(EISDIR) + "\r\n";
    struct Case {
        const char* mode;
        std::string redirections;
        std::string error;
    } cases[] = {
        {"-encode:base64", "< " + dir + "/small > /dev/full", no_space},  // only the final flush fails
        {"-encode:base64 -wrap:76", "< " + dir + "/big > /dev/full", no_space},  // a write on the way fails
        {"-decode:base64", "< " + dir + "/small.b64 > /dev/full", no_space},
        {"-encode:base64", "< /tmp > /dev/null", is_folder},
        {"-decode:base64", "< /tmp > /dev/null", is_folder},
    };
    for (const Case& c : cases) {
        CommandResult r = run_command_line(std::string(TAVRIN_BINARY) + " " + c.mode + " " + c.redirections);
        EXPECT_EQ(r.status, 1) << c.mode << " " << c.redirections;
        EXPECT_EQ(r.err, c.error) << c.mode << " " << c.redirections;
    }
    std::system(("rm -rf " + dir).c_str());
}

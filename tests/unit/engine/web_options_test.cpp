#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine/engine_main.h"
#include "engine/option_state.h"
#include "engine/run_state.h"
#include "base/text_stream.h"
#include "engine/web_options.h"

namespace {

// Runs the web-mail reader alone over a request, state left in place.
class WebRequest {
public:
    explicit WebRequest(std::vector<const char*> args) : clients_("")
    {
        RunState& rs = run_state();
        rs.clients = &clients_;
        select_transport(TransportKind::smtp);
        select_reader(ReaderKind::pop3);
        reset_run_options();
        clear_report();
        call_state().base_path = "/srv/mail";
        call_state().config_file = "/nonexistent/tavrin.txt";
        args.insert(args.begin(), "tavrin");
        result = read_web_options(static_cast<int>(args.size()), args.data());
    }
    ~WebRequest()
    {
        run_state().attachment_list.clear();
        run_state().clients = nullptr;
        reset_run_options();
    }
    OptionState& o() { return options(); }
    ClientObjects& clients() { return clients_; }
    int result;

private:
    ClientObjects clients_;
};

int run(std::vector<const char*> args)
{
    args.insert(args.begin(), "tavrin");
    return engine_main(static_cast<int>(args.size()), args.data());
}

}  // namespace

TEST(WebOptions, NothingUnlessTheFirstArgumentIsCgi)
{
    WebRequest r({"-to:a@example.com", "-cgi"});
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.o().web_mode, 0);
    EXPECT_EQ(report_stream.contents(), "");
}

TEST(WebOptions, TokensSetTheirFields)
{
    WebRequest r({"-cgi?-to=\"joe%40example.com\"&amp;-cc=\"Ann Lee\"&-from=me%40example.com&-s=Hello+there"
                  "&-host=mail.example.com&-user=joe&-msg=4&-auth&-html&-a=report.pdf&-bufsiz=0&-bogus=1"});
    OptionState& o = r.o();
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(o.web_mode, 1);
    EXPECT_STREQ(o.to.c_str(), "joe@example.com");
    EXPECT_STREQ(o.cc.c_str(), "Ann");   // a blank ends a token's value
    EXPECT_STREQ(o.from.c_str(), "me@example.com");
    EXPECT_STREQ(o.subject.c_str(), "Hello there");
    EXPECT_STREQ(o.imap_host.c_str(), "mail.example.com");
    EXPECT_STREQ(o.user.c_str(), "joe");
    EXPECT_EQ(o.msg_number, 4);
    EXPECT_EQ(o.auth, 1);
    EXPECT_EQ(o.html, 1);
    EXPECT_EQ(o.bufsiz, 1024);
    EXPECT_EQ(run_state().attachment_list.count(), 1);  // listed; the transport takes only files that exist
    EXPECT_STREQ(call_state().saved_web_base.c_str(), "/srv/mail/");
    const std::string& report = report_stream.contents();
    EXPECT_NE(report.find("NOT MATCHED: -bogus\r\n"), std::string::npos);
    EXPECT_NE(report.find("Content-Type: text/html\r\n\r\n"), std::string::npos);
    EXPECT_EQ(report.find("Pragma"), std::string::npos);  // "-html" leaves it out
}

TEST(WebOptions, HyphensInsideValuesStartNoToken)
{
    WebRequest r({"-cgi&-to:mary-ann@example.com&-s:x-ray"});
    EXPECT_STREQ(r.o().to.c_str(), "mary-ann@example.com");
    EXPECT_STREQ(r.o().subject.c_str(), "x-ray");
    EXPECT_EQ(report_stream.contents().find("NOT MATCHED"), std::string::npos);
}

TEST(WebOptions, PathIndirectionRefusesTheRequest)
{
    for (const char* token : {"-file:../etc/passwd", "-a:x/../../y", "-tolist:..", "-bcclist:a..b", "-get:%2E%2E/x"}) {
        WebRequest r({"-cgi:x", token});
        EXPECT_EQ(r.result, 0) << token;
        EXPECT_EQ(error_stream.contents(), "Attempted path indirection\r\n") << token;
    }
    WebRequest ok({"-cgi:x&-file:inbox.txt&-tolist:friends.txt"});
    EXPECT_STREQ(ok.o().file.c_str(), "/srv/mail/inbox.txt");
    EXPECT_STREQ(ok.o().tolist.c_str(), "/srv/mail/friends.txt");
}

TEST(WebOptions, DownloadTypes)
{
    struct Case { const char* token; const char* disposition; const char* type; } cases[] = {
        {"-get:page.html", "inline; ", "text/html; name=\"page.html\""},
        {"-get:photo.jpg", "inline; ", "image/jpeg; name=\"photo.jpg\""},
        {"-get:data.bin", "attachment; ", "application/octet-stream; name=\"data.bin\""},
        {"-get:README", "attachment; ", "application/octet-stream; name=\"README\""},
    };
    for (const auto& c : cases) {
        WebRequest r({"-cgi", c.token});
        const std::string& report = report_stream.contents();
        EXPECT_NE(report.find(std::string("Content-Disposition: ") + c.disposition), std::string::npos) << c.token;
        EXPECT_NE(report.find(std::string("Content-Type: ") + c.type + "\r\n\r\nPragma: no-cache\r\n\r\n"),
                  std::string::npos)
            << report;
        EXPECT_EQ(r.o().get, 1);
    }
}

TEST(WebOptions, ProgramRefusesIndirectionAndReportsUnknownTokens)
{
    EXPECT_EQ(run({"-cgi:x", "-file:../etc/passwd"}), 1);
    EXPECT_NE(error_stream.contents().find("Attempted path indirection"), std::string::npos);
    EXPECT_EQ(run({"-cgi:x", "-bogus:1", "-noop"}), 0);
    EXPECT_NE(report_stream.contents().find("NOT MATCHED: -bogus\r\n"), std::string::npos);
    process_state().use_config = 0;
}

TEST(WebOptions, ConfigurationKeysAndPageSettings)
{
    std::string path = "/tmp/tavrin-web-config.txt";
    std::ofstream(path) << "TAVRIN_PATH /var/webmail\nCHARSET \"utf-8\"\nTITLE \"My Mail\"\nBGCOLOR #ffffff\n"
                           "TRAILER <hr>bye\n";
    clear_report();
    {
        ClientObjects clients("");
        run_state().clients = &clients;
        select_transport(TransportKind::smtp);
        reset_run_options();
        call_state().config_file = path.c_str();
        call_state().base_path = "/tmp";
        const char* args[] = {"tavrin", "-cgi&-title&-file:x.txt"};
        EXPECT_EQ(read_web_options(2, args), 1);
        EXPECT_STREQ(options().charset.c_str(), "utf-8");
        EXPECT_STREQ(options().file.c_str(), "/var/webmail/x.txt");
        EXPECT_STREQ(options().page_header.c_str(), "<h2><center>My Mail</center></h2>");
        EXPECT_STREQ(options().bgcolor.c_str(), " bgcolor=\"#ffffff\"");
        EXPECT_STREQ(options().trailer.c_str(), "<hr>bye");
        EXPECT_EQ(process_state().use_config, 1);
        run_state().clients = nullptr;
    }
    // Without the file, "-title" is no token the reader knows.
    call_state().config_file = "/nonexistent/x.txt";
    const char* args[] = {"tavrin", "-cgi&-title"};
    read_web_options(2, args);
    EXPECT_NE(report_stream.contents().find("NOT MATCHED: -title"), std::string::npos);
    process_state().use_config = 0;
    reset_run_options();
    std::remove(path.c_str());
}

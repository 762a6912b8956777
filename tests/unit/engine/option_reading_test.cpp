#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/config_reader.h"
#include "engine/early_options.h"
#include "engine/labels.h"
#include "engine/option_reader.h"
#include "engine/option_state.h"
#include "engine/run_state.h"

namespace {

// Reads options the way one repetition of engine_main does: early options,
// the configuration text (when given), then the main options. The state is
// left in place for the test to look at.
class Reading {
public:
    Reading(std::vector<const char*> args, const char* config = nullptr) : clients_("")
    {
        RunState& rs = run_state();
        rs.clients = &clients_;
        select_transport(TransportKind::smtp);
        select_reader(ReaderKind::pop3);
        reset_run_options();
        args.insert(args.begin(), "tavrin");
        int argc = static_cast<int>(args.size());
        read_early_options(argc, args.data());
        if (config) {
            path_ = "/tmp/tavrin-config-test-" + std::to_string(getpid()) + ".txt";  // tests run side by side
            std::ofstream(path_) << config;
            call_state().config_file = path_.c_str();
            process_state().use_config = 1;
            read_config();
        }
        read_options(argc, args.data());
    }
    ~Reading()
    {
        if (!path_.empty()) std::remove(path_.c_str());
        process_state().use_config = 0;
        run_state().file_list.clear();
        run_state().clients = nullptr;
        reset_run_options();
    }
    OptionState& o() { return options(); }
    ClientObjects& clients() { return clients_; }

private:
    ClientObjects clients_;
    std::string path_;
};

}  // namespace

TEST(Options, AddressesAppendAndFromIsReplaced)
{
    Reading r({"-to:a@example.com", "-to:\"b@example.com\"", "-from:x@example.com", "-from:\"y@example.com\""});
    EXPECT_STREQ(r.o().to.c_str(), "a@example.com,b@example.com");
    EXPECT_STREQ(r.o().saved_to.c_str(), "a@example.com,b@example.com");
    EXPECT_STREQ(r.o().from.c_str(), "y@example.com");
}

TEST(Options, SslReplacesThreePortsWhateverTheOrder)
{
    for (auto args : {std::vector<const char*>{"-ssl", "-port:2000"}, std::vector<const char*>{"-port:2000", "-ssl"}}) {
        Reading r(args);
        EXPECT_STREQ(r.o().pop3_port.c_str(), "995");
        EXPECT_STREQ(r.o().imap_port.c_str(), "993");
        EXPECT_STREQ(r.o().smtp_port.c_str(), "465");
        EXPECT_STREQ(r.o().nntp_port.c_str(), "2000");
        EXPECT_STREQ(r.o().cap_port.c_str(), "2000");
    }
}

TEST(Options, ImapAndPgpOnlyOptionsNeedTheirFlagFirst)
{
    {
        Reading r({"-mbox:Archive", "-search:ALL", "-imap"});
        EXPECT_STREQ(r.o().mbox.c_str(), "INBOX");
        EXPECT_STREQ(r.o().search.c_str(), "");
        EXPECT_STREQ(r.o().ldap_search.c_str(), "ALL");
        EXPECT_EQ(run_state().reader_kind, ReaderKind::imap);
        EXPECT_EQ(run_state().transport_kind, TransportKind::imap_upload);
    }
    {
        Reading r({"-imap", "-mbox:Archive", "-search:ALL"});
        EXPECT_STREQ(r.o().mbox.c_str(), "Archive");
        EXPECT_STREQ(r.o().search.c_str(), "ALL");
    }
    {
        Reading r({"-sign", "-encrypt"});
        EXPECT_EQ(r.o().sign, 0);
        EXPECT_EQ(r.o().encrypt, 0);
    }
    {
        Reading r({"-pgp:gpg", "-sign"});
        EXPECT_EQ(r.o().sign, 1);
        EXPECT_STREQ(r.o().pgp_program.c_str(), "gpg");
    }
}

TEST(Options, Numbers)
{
    struct Case { const char* arg; int OptionState::*field; int want; } cases[] = {
        {"-every:0", &OptionState::every, 60},
        {"-every:1", &OptionState::every, 60},
        {"-every:2", &OptionState::every, 120},
        {"-every:-3", &OptionState::every, 60},
        {"-severy:0", &OptionState::every, 0},
        {"-severy:-5", &OptionState::every, 1},
        {"-severy:7", &OptionState::every, 7},
        {"-cnt: 3x", &OptionState::cnt, 3},
        {"-limit:abc", &OptionState::limit, 0},
        {"-v:2", &OptionState::verbose, 2},
        {"-v", &OptionState::verbose, 1},
        {"-qp:0", &OptionState::qp, 0},
        {"-idle", &OptionState::idle, 2147483647},
        {"-wrap:-76", &OptionState::wrap, -76},
    };
    for (const auto& c : cases) {
        Reading r({c.arg});
        EXPECT_EQ(r.o().*c.field, c.want) << c.arg;
    }
}

TEST(Options, MessageNumbersAndFirst)
{
    {
        Reading r({"-msg:3", "-first:5"});
        EXPECT_EQ(r.o().first, 8);
        EXPECT_EQ(r.o().msg_number, 3);
        EXPECT_STREQ(r.o().msg.c_str(), "3");
    }
    {
        Reading r({"-first:5"});
        EXPECT_EQ(r.o().first, 6);
    }
    {
        Reading r({"-msg:\"Hello\\n there\""});
        EXPECT_STREQ(r.o().msg.c_str(), "Hello\\n there");  // escape: backslashes stay
        EXPECT_EQ(r.o().msg_number, 0);
    }
}

TEST(Options, ValueKinds)
{
    Reading r({"-user:\"joe\"", "-pass: \"x\" ", "-from:\"me@example.com\"", "-nospat:  spam ", "-level:2 "});
    EXPECT_STREQ(r.o().user.c_str(), "\"joe\"");  // verbatim
    EXPECT_STREQ(r.o().pass.c_str(), " \"x\" ");
    EXPECT_STREQ(r.o().from.c_str(), "me@example.com");
    EXPECT_STREQ(r.o().spat.c_str(), "  spam");
    EXPECT_EQ(r.o().spat_negative, 1);
    EXPECT_STREQ(r.o().level.c_str(), "2 ");
}

TEST(Options, FlagsAndCombinations)
{
    Reading r({"-rm", "-8", "-qp:2", "-notify", "-uue", "-relay:mx.example.com", "-lsub", "-disconnect:hangup",
               "-probe:p@example.com", "-news"});
    OptionState& o = r.o();
    EXPECT_EQ(o.rm, 1);
    EXPECT_EQ(o.quiet, 1);
    EXPECT_EQ(o.brief, 1);
    EXPECT_EQ(o.eight_bit, 0);  // "-qp:2" after "-8" clears it
    EXPECT_EQ(o.notify, 1);
    EXPECT_EQ(o.dsn, 1);
    EXPECT_EQ(o.uue, 1);
    EXPECT_EQ(o.binary, 1);
    EXPECT_STREQ(o.relay_host.c_str(), "mx.example.com");
    EXPECT_EQ(o.raw, 1);
    EXPECT_STREQ(o.list_pattern.c_str(), "%");
    EXPECT_EQ(o.list_subscribed, 1);
    EXPECT_EQ(o.management_only, 1);
    EXPECT_STREQ(o.disconnect.c_str(), "hangup /disconnect");
    EXPECT_STREQ(o.to.c_str(), "p@example.com");
    EXPECT_EQ(o.mx, 1);
    EXPECT_EQ(o.nomsg, 1);
    EXPECT_EQ(run_state().transport_kind, TransportKind::news);
    EXPECT_EQ(o.qp, 0);  // "-news" came after "-qp:2"
}

TEST(Options, PartNumbers)
{
    Reading r({"-imap", "-part:BODY:2:7"});
    EXPECT_STREQ(r.o().part_name.c_str(), "BODY");
    EXPECT_EQ(r.o().part_n, 2u);
    EXPECT_EQ(r.o().part_m, 7u);
}

TEST(Config, PrecedenceBetweenFileAndCommandLine)
{
    Reading r({"-host:cmd.example.com", "-from:cmd@example.com", "-to:arg@example.com", "-port:2525"},
              "HOST file.example.com\nFROM file@example.com\nTO file@example.com\nSMTP 587\n");
    EXPECT_STREQ(r.o().smtp_host.c_str(), "file.example.com");   // the file beats early options
    EXPECT_STREQ(r.o().ns_host.c_str(), "cmd.example.com");      // HOST leaves the name server
    EXPECT_STREQ(r.o().from.c_str(), "cmd@example.com");         // options beat the file
    EXPECT_STREQ(r.o().to.c_str(), "file@example.com,arg@example.com");
    EXPECT_STREQ(r.o().smtp_port.c_str(), "587");
    EXPECT_STREQ(r.o().pop3_port.c_str(), "2525");
}

TEST(Config, LongestKeywordWins)
{
    Reading r({}, "smtp_host relay.example.com\nMSGLEN 40\nPGPPASS secret\nNORMAL\nCAP_HOST cap.example.com\n"
                  "HOSTNAME odd.example.com\nTOLIST list.txt\nTEXT x\n");
    OptionState& o = r.o();
    EXPECT_STREQ(o.smtp_host.c_str(), "odd.example.com");  // HOSTNAME is a HOST line
    EXPECT_STREQ(o.smtp_port.c_str(), "25");
    EXPECT_EQ(o.msglen, 40);
    EXPECT_EQ(o.msg_number, 1);
    EXPECT_STREQ(o.pgppass.c_str(), "secret");
    EXPECT_EQ(o.pgp, 0);
    EXPECT_EQ(o.priority, 3);
    EXPECT_EQ(o.rm, 0);
    EXPECT_STREQ(o.cap_host.c_str(), "cap.example.com");
    EXPECT_EQ(o.cap, 0);
    EXPECT_EQ(o.noop, 0);
    EXPECT_STREQ(o.tolist.c_str(), "list.txt");
    EXPECT_STREQ(o.to.c_str(), "");
    EXPECT_EQ(o.text, 1);
}

TEST(Config, KeywordEffects)
{
    Reading r({"-port:2000"}, "SSL\nEVERY 0\nSIGN\nPGP\nENCRYPT\nQP\nNOMSG\nCONNECT \"dial\\ isp\"\nDISCONNECT hang\n"
                              "SEARCH \"(cn=joe)\"\nimap\n");
    OptionState& o = r.o();
    EXPECT_EQ(o.ssl, 1);
    EXPECT_STREQ(o.smtp_port.c_str(), "2000");  // SSL keeps the ports
    EXPECT_EQ(o.every, 0);
    EXPECT_EQ(o.sign, 0);     // before PGP: no effect
    EXPECT_EQ(o.encrypt, 1);
    EXPECT_EQ(o.qp, 1);       // QP without a number leaves the level
    EXPECT_EQ(o.first, -1);
    EXPECT_STREQ(o.connect.c_str(), "dial\\ isp");
    EXPECT_STREQ(o.disconnect.c_str(), "hang /disconnect");
    EXPECT_STREQ(o.search.c_str(), "(cn=joe)");
    EXPECT_STREQ(o.ldap_search.c_str(), "(cn=joe)");
    EXPECT_EQ(o.imap, 1);
    EXPECT_EQ(run_state().reader_kind, ReaderKind::imap);
}

TEST(Config, OverlongLineIsCutAndItsRestSkipped)
{
    std::string text = "SUBJECT " + std::string(5000, 's') + "FROM bad@example.com\nTO ok@example.com\n";
    Reading r({}, text.c_str());
    EXPECT_EQ(r.o().subject.length(), 1023u);
    EXPECT_STREQ(r.o().from.c_str(), "");
    EXPECT_STREQ(r.o().to.c_str(), "ok@example.com");
}

TEST(Config, LastLineWithoutLineEndIsRead)
{
    Reading r({}, "FROM a@example.com\r\nsubject \"Hi there\"  ");
    EXPECT_STREQ(r.o().from.c_str(), "a@example.com");
    EXPECT_STREQ(r.o().subject.c_str(), "Hi there");
}

TEST(Labels, EachKeySetsOnlyItsOwnLabel)
{
    Reading r({}, "STRING_Deletemessage Removed #\nstring_delete Erase\nSTRING_To  Recipient\nFILE x\n");
    EXPECT_STREQ(label("STRING_Deletemessage").c_str(), "Removed #");
    EXPECT_STREQ(label("STRING_Delete").c_str(), "Erase");
    EXPECT_STREQ(label("STRING_To").c_str(), "Recipient");
    EXPECT_STREQ(label("STRING_UnDelete").c_str(), "Undelete");
    EXPECT_STREQ(label("STRING_Subject").c_str(), "Subject");
    reset_labels();
    EXPECT_STREQ(label("STRING_Delete").c_str(), "Delete");
}

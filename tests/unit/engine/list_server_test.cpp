// The list server through the program: one message at a time from a file
// ("-mail"), replies and posts written to files ("-mf"), the list file
// read and rewritten between the runs. (The same against Postfix and
// Dovecot: tests/integration/list_server_test.cpp.)
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../../support/command.h"
#include "../../support/file_text.h"

namespace {

std::string mail(const std::string& from, const std::string& subject, const std::string& body = "Hello.\r\n")
{
    return "From: " + from + "\r\nTo: list@test.example\r\nSubject: " + subject + "\r\n\r\n" + body;
}

const char* const ann = "Ann <ann@test.example>";

// A report as Postfix writes one, about recipient, with the action given.
std::string failure_report(const std::string& recipient, const std::string& action = "failed")
{
    return "From: MAILER-DAEMON@mail.test.example (Mail Delivery System)\r\n"
           "To: list@test.example\r\nSubject: Undelivered Mail Returned to Sender\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/report; report-type=delivery-status; boundary=\"R\"\r\n\r\n"
           "--R\r\nContent-Type: text/plain\r\n\r\nI'm sorry to have to inform you that your message could not\r\n"
           "be delivered to one or more recipients.\r\n"
           "--R\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mail.test.example\r\n\r\n"
           "Final-Recipient: rfc822; " + recipient + "\r\nAction: " + action + "\r\nStatus: 5.1.1\r\n"
           "--R--\r\n";
}

// The text of a quoted-printable body without its soft line breaks.
std::string unfolded(std::string text)
{
    for (size_t at; (at = text.find("=\r\n")) != std::string::npos;) text.erase(at, 3);
    return text;
}

class ListRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        char t[] = "/tmp/tavrin-listrun-XXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        dir = t;
        for (const char* sub : {"/out", "/fetch", "/tmp"}) mkdir((dir + sub).c_str(), 0755);
        write("cfg", "SMTP_HOST " + dir + "/out\nSMTP_PORT eml\n");
        write("list.txt", "");
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    void write(const std::string& name, const std::string& text) const
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }
    // One run of the list server over one message.
    CommandResult serve(const std::string& message, const std::string& args = "") const
    {
        write("m.eml", message);
        return run_command_line("cd " + dir + " && TMPDIR=" + dir + "/tmp " + TAVRIN_BINARY + " -mail -host:" + dir +
                                "/m.eml -mf -config:" + dir + "/cfg -user:list -tolist:list.txt " + list_options + " " +
                                args + " < /dev/null");
    }
    // What the run sent, message by message; taken away.
    std::vector<std::string> sent() const
    {
        std::vector<std::string> names, texts;
        if (DIR* d = opendir((dir + "/out").c_str())) {
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.') names.push_back(dir + "/out/" + e->d_name);
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            texts.push_back(slurp(name));
            std::remove(name.c_str());
        }
        return texts;
    }
    std::string list() const { return slurp(dir + "/list.txt"); }
    bool exists(const std::string& name) const { return access((dir + "/" + name).c_str(), F_OK) == 0; }
    static bool has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

    std::string dir;
    std::string list_options = "-listserv:list@test.example -owner:boss@test.example -fetch:fetch";
};

}  // namespace

TEST_F(ListRun, SubscribingAndLeavingRewriteTheListAndAnswer)
{
    const struct {
        const char* from;
        const char* subject;
        const char* list;   // the list file afterwards
        const char* reply;  // the reply's subject and body, or none
        const char* log;
    } steps[] = {
        {ann, "subscribe", "ann@test.example\r\n",
         "Subject: RE: subscribe\r\n|To be removed from this list reply to this message with a subject of just "
         "'unsubscribe'",
         "list/subscribe: ann@test.example\r\n"},
        {"ANN@test.example", "Subscribe me", "ann@test.example\r\n",
         "Subject: RE: subscribe\r\n|You are already subscribed!", "list/subscribe (ignored): ANN@test.example\r\n"},
        {ann, "unsubscribe", "#ann@test.example\r\n",
         "Subject: RE: unsubscribe\r\n|To be added back to this list reply to this message with a subject of just "
         "'subscribe'",
         "list/unsubscribe: ann@test.example\r\n"},
        {ann, "UNSUBSCRIBE", "#ann@test.example\r\n", "Subject: RE: unsubscribe\r\n|You were not subscribed!",
         "list/unsubscribe (ignored): ann@test.example\r\n"},
        {ann, "subscribe", "ann@test.example\r\n", "Subject: RE: subscribe\r\n|To be removed",
         "list/subscribe: ann@test.example\r\n"},
        {"The list <list@test.example>", "subscribe", "ann@test.example\r\n", nullptr,
         "list/circular: list@test.example\r\n"},
    };
    for (const auto& s : steps) {
        CommandResult r = serve(mail(s.from, s.subject), "-rm");
        EXPECT_EQ(r.status, 0) << s.subject << ": " << r.err;
        EXPECT_EQ(list(), s.list) << s.from << " " << s.subject;
        EXPECT_TRUE(has(r.out, s.log)) << r.out;
        EXPECT_FALSE(exists("m.eml")) << "-rm deletes what the list server handled";
        std::vector<std::string> replies = sent();
        if (!s.reply) {
            EXPECT_TRUE(replies.empty()) << s.subject;
            continue;
        }
        ASSERT_EQ(replies.size(), 1u) << s.subject;
        std::string reply = unfolded(replies[0]), want = s.reply;
        size_t bar = want.find('|');
        std::string to = std::string("To: ") + (s.from == std::string(ann) ? "ann@test.example" : s.from);
        EXPECT_EQ(reply.rfind(to + "\r\nFrom: list@test.example\r\n", 0), 0u) << reply;
        EXPECT_TRUE(has(reply, want.substr(0, bar))) << reply;
        EXPECT_TRUE(has(reply, "\r\n\r\n" + want.substr(bar + 1))) << reply;
    }
    // "help" is done with: no reply, no log line, and "-rm" deletes it.
    CommandResult help = serve(mail(ann, "help"), "-rm");
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_FALSE(has(help.out, "list/"));
    EXPECT_TRUE(help.err.empty()) << help.err;
    EXPECT_TRUE(sent().empty());
    EXPECT_FALSE(exists("m.eml"));
}

TEST_F(ListRun, SendersThatAreNoSingleAddressGetNoReply)
{
    const struct {
        const char* from;
        const char* shown;
    } refused[] = {
        {"=?us-ascii?Q?ann@test.example=0D=0Aeve@test.example?=", "ann@test.example  eve@test.example"},
        {"=?us-ascii?Q?x=0D=0A?= <ann@test.example=0D=0ABcc:eve@test.example>", nullptr},
        {"../../etc/passwd", "../../etc/passwd"},
        {"/tmp/list.txt@test.example", "/tmp/list.txt@test.example"},
        {"ann@test.example, eve@test.example", "ann@test.example, eve@test.example"},
    };
    for (const auto& s : refused) {
        CommandResult r = serve(mail(s.from, "subscribe"));
        EXPECT_EQ(r.status, 0) << s.from << ": " << r.err;
        EXPECT_TRUE(has(r.err, "list/refused: ")) << s.from << ": " << r.err;
        if (s.shown) {
            EXPECT_TRUE(has(r.err, std::string("list/refused: ") + s.shown + " ... 'subscribe'\r\n")) << r.err;
        }
        EXPECT_EQ(list(), "") << s.from;
        EXPECT_TRUE(sent().empty()) << s.from;
    }
    // A From with two addresses: the first is subscribed, and only it is answered.
    CommandResult two = serve(mail("Ann <ann@test.example>, Eve <eve@test.example>", "subscribe"));
    EXPECT_EQ(list(), "ann@test.example\r\n");
    std::vector<std::string> replies = sent();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].rfind("To: ann@test.example\r\n", 0), 0u) << replies[0];
    EXPECT_FALSE(has(replies[0], "eve@")) << replies[0];
    // A decoded subject cannot start a header line of its own.
    CommandResult index = serve(mail(ann, "index%0D%0ABcc:%20eve@test.example"));
    ASSERT_EQ(index.status, 0) << index.err;
    replies = sent();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(has(replies[0], "\r\nSubject: RE: index  Bcc: eve@test.example\r\n")) << replies[0];
    EXPECT_FALSE(has(replies[0], "\nBcc:")) << replies[0];
}

TEST_F(ListRun, FailureReportsMarkTheFailedSubscriber)
{
    write("list.txt", "# the list\r\nann@test.example\r\njoe.bob@test.example\r\nbob@test.example\r\n");
    CommandResult r = serve(failure_report("bob@test.example"), "-rm");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "list/undelivered (unsubscribed): bob@test.example\r\n")) << r.out;
    EXPECT_EQ(list(), "# the list\r\nann@test.example\r\njoe.bob@test.example\r\n#bob@test.example\r\n");
    EXPECT_TRUE(sent().empty());
    EXPECT_FALSE(exists("m.eml"));

    // Someone not on the list: the same line, no change.
    r = serve(failure_report("carl@test.example"));
    EXPECT_TRUE(has(r.out, "list/undelivered (unsubscribed): carl@test.example\r\n")) << r.out;
    EXPECT_EQ(list(), "# the list\r\nann@test.example\r\njoe.bob@test.example\r\n#bob@test.example\r\n");

    // Another action: shown with the report's text on standard output.
    r = serve(failure_report("ann@test.example", "delayed"));
    EXPECT_TRUE(has(r.out, "list/undelivered (ignored): ")) << r.out;
    EXPECT_TRUE(has(r.out, "Action: delayed")) << r.out;
    EXPECT_TRUE(has(list(), "\r\nann@test.example\r\n"));

    // No action at all: the report goes on to the owner.
    r = serve(mail("Mail Delivery Subsystem <postmaster@test.example>", "Returned mail: see transcript",
                   "The mail system could not deliver your message.\r\n"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "list/undelivered: The mail system could not deliver your message.\r\n\n")) << r.out;
    std::vector<std::string> passed = sent();
    ASSERT_EQ(passed.size(), 1u);
    EXPECT_TRUE(has(passed[0], "To: boss@test.example\r\nFrom: list@test.example\r\nReply-To: boss@test.example\r\n"))
        << passed[0];
    EXPECT_TRUE(has(passed[0], "Subject: Returned mail: see transcript\r\n")) << passed[0];
    EXPECT_TRUE(has(passed[0], "The mail system could not deliver your message.")) << passed[0];

    // With "-manual" a report is no report: from a stranger it is refused.
    r = serve(failure_report("ann@test.example"), "-manual");
    EXPECT_TRUE(has(r.out, "list/unknown: MAILER-DAEMON@mail.test.example ... 'Undelivered Mail Returned to Sender'"))
        << r.out;
    EXPECT_TRUE(has(list(), "\r\nann@test.example\r\n"));
}

TEST_F(ListRun, FilesAreFetchedOnlyFromTheFetchFolder)
{
    write("list.txt", "ann@test.example\r\n");
    write("fetch/notes.txt", "the notes\n");
    write("secret.txt", "not for the list\n");
    mkdir((dir + "/fetch/sub").c_str(), 0755);
    const struct {
        const char* subject;
        const char* answer;  // the reply's body
        const char* log;     // on standard output after "list/fetch: "
    } requests[] = {
        {"fetch notes.txt", "OK - 'notes.txt'", "OK - 'notes.txt'"},
        {"GET notes.txt", "OK - 'notes.txt'", "OK - 'notes.txt'"},
        {"fetch missing.txt", "UNKNOWN FILE - 'missing.txt'", "UNKNOWN FILE - 'missing.txt'"},
        {"fetch sub", "UNKNOWN FILE - 'sub'", "UNKNOWN FILE - 'sub'"},
        {"get ../secret.txt", "SORRY, can't do that: ../secret.txt", "get ../secret.txt"},
        {"fetch ..", "SORRY, can't do that: ..", "fetch .."},
        {"fetch a/b", "SORRY, can't do that: a/b", "fetch a/b"},
        {"fetch /etc/passwd", "SORRY, can't do that: /etc/passwd", "fetch /etc/passwd"},
        {"fetch fetch\\notes.txt", "SORRY, can't do that: fetch\\notes.txt", "fetch fetch\\notes.txt"},
    };
    for (const auto& q : requests) {
        CommandResult r = serve(mail(ann, q.subject));
        EXPECT_EQ(r.status, 0) << q.subject << ": " << r.err;
        EXPECT_TRUE(has(r.out, std::string("list/fetch: ") + q.log + " who " + ann + "\n")) << r.out;
        std::vector<std::string> replies = sent();
        ASSERT_EQ(replies.size(), 1u) << q.subject;
        EXPECT_TRUE(has(replies[0], std::string("Subject: RE: ") + q.subject + "\r\n")) << replies[0];
        EXPECT_TRUE(has(replies[0], q.answer)) << q.subject << "\n" << replies[0];
        bool attached = std::string(q.answer).rfind("OK", 0) == 0;
        EXPECT_EQ(has(replies[0], "filename=\"notes.txt\""), attached) << replies[0];
        EXPECT_EQ(has(replies[0], "the notes"), attached) << replies[0];
        EXPECT_FALSE(has(replies[0], "not for the list")) << replies[0];
    }

    CommandResult index = serve(mail(ann, "fetch index"));
    EXPECT_TRUE(has(index.out, "list/index: fetch index from ann@test.example\r\n")) << index.out;
    std::vector<std::string> replies = sent();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(has(replies[0], "Subject: RE: fetch index\r\n")) << replies[0];
    EXPECT_TRUE(has(unfolded(replies[0]), "FILE INDEX:\r\n\r\nnotes.txt ")) << replies[0];
    EXPECT_FALSE(has(replies[0], "secret")) << replies[0];

    // Without a fetch folder only the line is written.
    list_options = "-listserv:list@test.example -fetch:";
    CommandResult none = serve(mail(ann, "fetch notes.txt"));
    EXPECT_TRUE(has(none.out, std::string("list/fetch: fetch notes.txt who ") + ann + "\n")) << none.out;
    none = serve(mail(ann, "dir"));
    EXPECT_TRUE(has(none.out, "list/index: dir from ann@test.example\r\n")) << none.out;
    EXPECT_TRUE(sent().empty());
}

TEST_F(ListRun, StrangersMayFetchOnlyWhenTheListIsOpen)
{
    write("list.txt", "ann@test.example\r\n#eve@test.example\r\n");
    const char* const eve = "eve@test.example";
    for (const char* subject : {"index", "fetch notes.txt", "Hello everybody"}) {
        CommandResult r = serve(mail(eve, subject));
        EXPECT_TRUE(has(r.out, std::string("list/unknown: eve@test.example ... '") + subject + "'\r\n")) << r.out;
        EXPECT_TRUE(sent().empty()) << subject;
    }
    CommandResult open = serve(mail(eve, "index"), "-open");
    EXPECT_TRUE(has(open.out, "list/index: index from eve@test.example\r\n")) << open.out;
    EXPECT_EQ(sent().size(), 1u);
    open = serve(mail(eve, "Hello everybody"), "-open");
    EXPECT_TRUE(has(open.out, "list/unknown: eve@test.example ... 'Hello everybody'\r\n")) << open.out;
    EXPECT_TRUE(sent().empty());
}

TEST_F(ListRun, PostsGoToTheListWithTheirParts)
{
    write("list.txt", "ann@test.example\r\nbob@test.example\r\nboss@test.example\r\n");
    // A part named like the list file, and a text part without a name.
    std::string post = "From: Ann <ann@test.example>\r\nTo: list@test.example\r\nSubject: Meeting+on%20Friday\r\n"
                       "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"P\"\r\n\r\n"
                       "--P\r\nContent-Type: text/plain\r\n\r\nSee you there.\r\n"
                       "--P\r\nContent-Type: text/plain\r\n\r\nA second text.\r\n"
                       "--P\r\nContent-Type: application/octet-stream\r\n"
                       "Content-Disposition: attachment; filename=\"list.txt\"\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\nZXZlQHRlc3QuZXhhbXBsZQ0K\r\n--P--\r\n";
    CommandResult r = serve(post);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "list/distribution: ann@test.example (Meeting on Friday)\r\n")) << r.out;
    EXPECT_TRUE(has(r.out, "Sent ")) << r.out;
    EXPECT_TRUE(has(r.out, " with 1 attachments ")) << r.out;
    std::vector<std::string> posts = sent();
    ASSERT_EQ(posts.size(), 1u);
    const std::string& p = posts[0];
    EXPECT_TRUE(has(p, "Precedence: bulk\r\nTo: list@test.example\r\nFrom: Ann <ann@test.example>\r\n"
                       "Reply-To: list@test.example\r\n"))
        << p;
    EXPECT_TRUE(has(p, "Errors-To: list@test.example\r\nSubject: Meeting on Friday\r\n")) << p;
    EXPECT_FALSE(has(p, "Bcc")) << p;
    EXPECT_TRUE(has(p, "See you there.")) << p;
    EXPECT_TRUE(has(p, "A second text.")) << p;
    EXPECT_TRUE(has(p, "filename=\"list.txt\"")) << p;
    EXPECT_TRUE(has(p, "\r\n\r\neve@test.example\r\n")) << p;
    // The part was stored aside, and nothing of it stays.
    EXPECT_EQ(list(), "ann@test.example\r\nbob@test.example\r\nboss@test.example\r\n");
    EXPECT_EQ(std::system(("test -z \"$(ls -A " + dir + "/tmp)\"").c_str()), 0);

    // "-noatt": the part is named in the text instead.
    r = serve(post, "-noatt");
    posts = sent();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_TRUE(has(posts[0], "Attachment deleted: list.txt")) << posts[0];
    EXPECT_FALSE(has(posts[0], "eve@test.example")) << posts[0];

    // "-priv": only the owner posts; the owner's post goes out.
    r = serve(mail("bob@test.example", "My view"), "-priv");
    EXPECT_EQ(r.err, "list/unknown or invalid: bob@test.example (My view)\r\n");
    EXPECT_TRUE(sent().empty());
    r = serve(mail("Boss <boss@test.example>", "Rules"), "-priv");
    EXPECT_TRUE(has(r.out, "list/distribution: boss@test.example (Rules)\r\n")) << r.out;
    posts = sent();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_TRUE(has(posts[0], "Reply-To: boss@test.example\r\n")) << posts[0];

    // "-manual": a subscription command is a post like any other.
    r = serve(mail(ann, "subscribe"), "-manual");
    EXPECT_TRUE(has(r.out, "list/distribution: ann@test.example (subscribe)\r\n")) << r.out;
    EXPECT_EQ(sent().size(), 1u);
}

TEST_F(ListRun, RmWithoutAListAddressStillServesEveryMessageWhole)
{
    // "-rm" makes a run brief and quiet; the list server still gets each
    // message, all of it.
    write("list.txt", "ann@test.example\r\nbob@test.example\r\n");
    list_options = "";
    CommandResult r = serve(mail(ann, "News", "line one\r\nline two\r\nline three\r\n"), "-rm");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "list/distribution: ann@test.example (News)\r\n")) << r.out;
    std::vector<std::string> posts = sent();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_TRUE(has(posts[0], "line one\r\nline two\r\nline three")) << posts[0];
    EXPECT_TRUE(has(posts[0], "Reply-To: list@" + dir + "/out\r\n")) << "the list address is user@host: " << posts[0];
    EXPECT_FALSE(exists("m.eml"));
}

TEST_F(ListRun, AFailedReplyKeepsTheMessageButNotTheSubscriptionBack)
{
    write("cfg", "SMTP_HOST " + dir + "/missing\nSMTP_PORT eml\n");
    CommandResult r = serve(mail(ann, "subscribe"), "-rm");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "Could not connect to server: " + dir + "/missing:eml, error= -1\r\n")) << r.err;
    EXPECT_TRUE(exists("m.eml")) << "the message stays for the next run";
    EXPECT_EQ(list(), "ann@test.example\r\n") << "written before the reply";
    EXPECT_FALSE(has(r.out, "list/subscribe")) << r.out;

    write("cfg", "SMTP_HOST " + dir + "/out\nSMTP_PORT eml\n");
    r = serve(mail(ann, "subscribe"), "-rm");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "list/subscribe (ignored): ann@test.example\r\n")) << r.out;
    EXPECT_FALSE(exists("m.eml"));
    std::vector<std::string> replies = sent();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(has(replies[0], "You are already subscribed!")) << replies[0];

    // A list file that cannot be read is never written over.
    mkdir((dir + "/folder.txt").c_str(), 0755);
    r = serve(mail("bob@test.example", "subscribe"), "-rm -tolist:folder.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "Could not read list file: 'folder.txt'\r\n")) << r.err;
    EXPECT_TRUE(exists("m.eml"));
    EXPECT_TRUE(sent().empty());
}

// The list server against Dovecot and Postfix: the list's mailbox is read
// over POP3, replies and posts go out through Postfix, which delivers them
// into the subscribers' Maildirs (where they are read back) and sends its
// own delivery-failure reports back to the list's mailbox.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../support/mail_suite.h"

namespace {

using Result = CommandResult;

std::string mail(const std::string& from, const std::string& subject, const std::string& body = "Hello.\n")
{
    return "From: " + from + "\nTo: list@test.example\nSubject: " + subject + "\n\n" + body;
}

const char* const ann = "Ann <ann@test.example>";

// 1024 bytes of every value, as a part of a post and as a file to fetch.
std::string binary_data()
{
    std::string data;
    for (int i = 0; i < 1024; ++i) data.push_back(static_cast<char>(i % 256));
    return data;
}

std::string with_attachment(const std::string& from, const std::string& subject)
{
    // The base64 of binary_data(), as Python's email package writes it.
    Result b64 = run_command_line("/usr/bin/python3 -c \"import base64,sys; sys.stdout.write(base64.encodebytes("
                                  "bytes(i % 256 for i in range(1024))).decode())\"");
    return "From: " + from + "\nTo: list@test.example\nSubject: " + subject +
           "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"P\"\n\n"
           "--P\nContent-Type: text/plain\n\nThe plans are attached.\n"
           "--P\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename=\"plans.bin\"\n"
           "Content-Transfer-Encoding: base64\n\n" +
           b64.out + "--P--\n";
}

// The text of a quoted-printable body without its soft line breaks.
std::string unfolded(std::string text)
{
    for (size_t at; (at = text.find("=\n")) != std::string::npos;) text.erase(at, 2);
    return text;
}

bool has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

const char* const people[] = {"ann", "bob", "carl", "boss", "eve"};

class Lists : public MailSuite<Lists> {
protected:
    // ghost has a mailbox in Postfix's map but none in Dovecot: Postfix
    // takes mail for ghost and then reports the failure to the sender.
    static void SetUpTestSuite()
    {
        start_servers(closed_port(), closed_port(),
                      {"list:secret", "ann:pw", "bob:pw", "carl:pw", "boss:pw", "eve:pw", "ghost:pw"});
        if (!started) return;
        std::string users = fixtures::slurp(dir + "/users"), kept, line;
        std::istringstream lines(users);
        while (std::getline(lines, line))
            if (line.rfind("ghost:", 0) != 0) kept += line + "\n";
        std::ofstream(dir + "/users", std::ios::trunc) << kept;  // the same file, its owner and mode kept
    }
    void SetUp() override
    {
        MailSuite<Lists>::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        empty("list");
        for (const char* p : people) empty(p);
        std::ofstream(work + "/tavrin.txt") << "SMTP_PORT " << smtp << "\nPOP3_PORT " << pop3 << "\n";
        write("list.txt", "");
        ASSERT_EQ(std::system(("mkdir " + work + "/fetch").c_str()), 0);
    }

    void write(const std::string& name, const std::string& text) const
    {
        std::ofstream(work + "/" + name, std::ios::binary) << text;
    }
    static void empty(const std::string& user)
    {
        std::system(("rm -f " + maildir(user) + "/new/* " + maildir(user) + "/cur/*").c_str());
    }
    // A message in the list's mailbox, after those put there before.
    static void put(const std::string& text)
    {
        static int serial = 0;
        ++serial;
        std::string name = maildir("list") + "/new/" + std::to_string(1800000000 + serial) + ".M" +
                           std::to_string(serial) + "P1.list";
        std::ofstream(name, std::ios::binary) << text;
        std::system(("chown -R 5000:5000 " + maildir("list")).c_str());
    }
    // One run of the list server over the list's mailbox, which "-rm" empties.
    Result serve(const std::string& args = "") const
    {
        return run_command_line("cd " + work + " && " + TAVRIN_BINARY + " -host:127.0.0.1 -user:list -pass:secret " +
                                "-tolist:list.txt -listserv:list@test.example -owner:boss@test.example -fetch:fetch " +
                                "-rm -config:" + work + "/tavrin.txt -tmo:20 " + args + " < /dev/null");
    }
    // The messages delivered to user (waiting for count of them).
    static std::vector<std::string> delivered(const std::string& user, size_t count)
    {
        arrived(user, count);
        std::vector<std::string> texts;
        for (const std::string& file : message_files(user)) texts.push_back(fixtures::slurp(file));
        std::sort(texts.begin(), texts.end(), [](const std::string& a, const std::string& b) {
            return mail_suite::subject_line(a) < mail_suite::subject_line(b);
        });
        return texts;
    }
    static std::vector<std::string> delivered_files(const std::string& user, size_t count)
    {
        arrived(user, count);
        return message_files(user);
    }
    // The parts of a delivered message as Python's email package reads
    // them; leaf N's decoded bytes go to work/part-N.
    std::string tree(const std::string& file) const
    {
        return run_command_line("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) + "/tests/support/mime_tree.py " +
                                file + " " + work)
            .out;
    }
    std::string list_file() const { return fixtures::slurp(work + "/list.txt"); }
};

}  // namespace

TEST_F(Lists, SubscribingLeavingAndComingBackRewriteTheListFile)
{
    const struct {
        const char* subject;
        const char* list;
        const char* reply_subject;
        const char* reply;
    } steps[] = {
        {"subscribe", "ann@test.example\r\n", "Subject: RE: subscribe",
         "To be removed from this list reply to this message with a subject of just 'unsubscribe'"},
        {"unsubscribe", "#ann@test.example\r\n", "Subject: RE: unsubscribe",
         "To be added back to this list reply to this message with a subject of just 'subscribe'"},
        {"subscribe", "ann@test.example\r\n", "Subject: RE: subscribe", "To be removed from this list"},
    };
    for (const auto& s : steps) {
        put(mail(ann, s.subject));
        Result r = serve();
        ASSERT_EQ(r.status, 0) << s.subject << ": " << r.err;
        EXPECT_TRUE(has(r.out, std::string("list/") + s.subject + ": ann@test.example\r\n")) << r.out;
        EXPECT_EQ(list_file(), s.list) << s.subject;
        std::vector<std::string> replies = delivered("ann", 1);
        ASSERT_EQ(replies.size(), 1u) << s.subject;
        EXPECT_EQ(mail_suite::subject_line(replies[0]), s.reply_subject);
        EXPECT_TRUE(has(replies[0], "\nFrom: list@test.example\n")) << replies[0];
        EXPECT_TRUE(has(unfolded(replies[0]), s.reply)) << replies[0];
        EXPECT_TRUE(remaining("list").empty()) << "-rm empties the list's mailbox";
        empty("ann");
    }

    // Two requests in one run: the second finds the first's change.
    put(mail("bob@test.example", "subscribe"));
    put(mail("bob@test.example", "subscribe"));
    Result twice = serve();
    ASSERT_EQ(twice.status, 0) << twice.err;
    EXPECT_TRUE(has(twice.out, "list/subscribe: bob@test.example\r\n")) << twice.out;
    EXPECT_TRUE(has(twice.out, "list/subscribe (ignored): bob@test.example\r\n")) << twice.out;
    EXPECT_EQ(list_file(), "ann@test.example\r\nbob@test.example\r\n");
    std::vector<std::string> replies = delivered("bob", 2);
    ASSERT_EQ(replies.size(), 2u);
    std::string both = unfolded(replies[0] + replies[1]);
    EXPECT_TRUE(has(both, "To be removed from this list")) << both;
    EXPECT_TRUE(has(both, "You are already subscribed!")) << both;

    // The list's own address is never subscribed, and nothing is sent.
    put(mail("list@test.example", "subscribe"));
    Result circular = serve();
    EXPECT_TRUE(has(circular.out, "list/circular: list@test.example\r\n")) << circular.out;
    EXPECT_FALSE(has(circular.out, "Sent ")) << circular.out;
    EXPECT_EQ(list_file(), "ann@test.example\r\nbob@test.example\r\n");
}

TEST_F(Lists, APostReachesEverySubscriberAndAFailureReportMarksTheOneItFailedFor)
{
    write("list.txt", "ann@test.example\r\nbob@test.example\r\n#carl@test.example\r\nghost@test.example\r\n");
    put(with_attachment(ann, "Plans"));
    Result r = serve("-v:2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "list/distribution: ann@test.example (Plans)\r\n")) << r.out;
    // The envelope: from the list, to the subscribers, not to the list itself.
    EXPECT_TRUE(has(r.out, "MAIL FROM:<list@test.example>\r\n")) << r.out;
    for (const char* to : {"ann", "bob", "ghost"})
        EXPECT_TRUE(has(r.out, std::string("RCPT TO:<") + to + "@test.example>\r\n")) << to << "\n" << r.out;
    for (const char* not_to : {"carl@", "#carl", "list@test.example>\r\n250"})
        EXPECT_FALSE(has(r.out, std::string("RCPT TO:<") + not_to)) << not_to;

    for (const char* user : {"ann", "bob"}) {
        std::vector<std::string> files = delivered_files(user, 1);
        ASSERT_EQ(files.size(), 1u) << user;
        std::string text = fixtures::slurp(files[0]);
        EXPECT_EQ(text.rfind("Return-Path: <list@test.example>\n", 0), 0u) << text;
        for (const char* line : {"\nTo: list@test.example\n", "\nFrom: Ann <ann@test.example>\n",
                                 "\nReply-To: list@test.example\n", "\nErrors-To: list@test.example\n",
                                 "\nSubject: Plans\n"})
            EXPECT_TRUE(has(text, line)) << line << "\n" << text;
        std::string t = tree(files[0]);
        EXPECT_TRUE(has(t, "name=plans.bin")) << t;
        EXPECT_EQ(fixtures::slurp(work + "/part-1"), "The plans are attached.\n");
        EXPECT_EQ(fixtures::slurp(work + "/part-2"), binary_data()) << t;
    }
    // Postfix took ghost's copy and reports the failure to the list.
    std::vector<std::string> report = delivered("list", 1);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(mail_suite::subject_line(report[0]), "Subject: Undelivered Mail Returned to Sender");
    EXPECT_TRUE(remaining("carl").empty()) << "one who left gets nothing";

    Result bounce = serve();
    ASSERT_EQ(bounce.status, 0) << bounce.err;
    EXPECT_TRUE(has(bounce.out, "list/undelivered (unsubscribed): ghost@test.example\r\n")) << bounce.out;
    EXPECT_EQ(list_file(), "ann@test.example\r\nbob@test.example\r\n#carl@test.example\r\n#ghost@test.example\r\n");
    EXPECT_TRUE(remaining("list").empty());
}

TEST_F(Lists, TheIndexAndFilesComeFromTheFetchFolderOnly)
{
    write("list.txt", "ann@test.example\r\n");
    write("fetch/notes.txt", "Notes for the list\n");
    write("fetch/data.bin", binary_data());
    put(mail(ann, "index"));
    put(mail(ann, "fetch data.bin"));
    put(mail(ann, "get ../list.txt"));
    put(mail("eve@test.example", "index"));
    Result r = serve();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "list/index: index from ann@test.example\r\n")) << r.out;
    EXPECT_TRUE(has(r.out, std::string("list/fetch: OK - 'data.bin' who ") + ann + "\n")) << r.out;
    EXPECT_TRUE(has(r.out, std::string("list/fetch: get ../list.txt who ") + ann + "\n")) << r.out;
    EXPECT_TRUE(has(r.out, "list/unknown: eve@test.example ... 'index'\r\n")) << r.out;

    std::vector<std::string> files = delivered_files("ann", 3);
    ASSERT_EQ(files.size(), 3u);
    int seen = 0;
    for (const std::string& file : files) {
        std::string text = fixtures::slurp(file), subject = mail_suite::subject_line(text);
        if (subject == "Subject: RE: index") {
            ++seen;
            std::string body = unfolded(text);
            EXPECT_TRUE(has(body, "FILE INDEX:\n\n")) << body;
            EXPECT_TRUE(has(body, "\nnotes.txt ")) << body;
            EXPECT_TRUE(has(body, "\ndata.bin ")) << body;
        } else if (subject == "Subject: RE: fetch data.bin") {
            ++seen;
            std::string t = tree(file);
            EXPECT_TRUE(has(t, "name=data.bin")) << t;
            EXPECT_TRUE(has(fixtures::slurp(work + "/part-1"), "OK - 'data.bin'")) << t;
            EXPECT_EQ(fixtures::slurp(work + "/part-2"), binary_data()) << t;
        } else if (subject == "Subject: RE: get ../list.txt") {
            ++seen;
            EXPECT_TRUE(has(unfolded(text), "SORRY, can't do that: ../list.txt")) << text;
            EXPECT_FALSE(has(text, "multipart")) << "nothing attached: " << text;
        }
    }
    EXPECT_EQ(seen, 3);
    EXPECT_TRUE(remaining("eve").empty()) << "a stranger gets no index";
}

TEST_F(Lists, PrivateOpenAndNoAttachmentModes)
{
    write("list.txt", "ann@test.example\r\nbob@test.example\r\nboss@test.example\r\n");
    // "-priv": only the owner's post goes out, with replies to the owner.
    put(mail("bob@test.example", "My view"));
    put(mail("Boss <boss@test.example>", "Rules"));
    Result priv = serve("-priv");
    ASSERT_EQ(priv.status, 0) << priv.err;
    EXPECT_EQ(priv.err, "list/unknown or invalid: bob@test.example (My view)\r\n");
    EXPECT_TRUE(has(priv.out, "list/distribution: boss@test.example (Rules)\r\n")) << priv.out;
    for (const char* user : {"ann", "bob", "boss"}) {
        std::vector<std::string> got = delivered(user, 1);
        ASSERT_EQ(got.size(), 1u) << user;
        EXPECT_EQ(mail_suite::subject_line(got[0]), "Subject: Rules");
        EXPECT_TRUE(has(got[0], "\nReply-To: boss@test.example\n")) << got[0];
        empty(user);
    }

    // "-open": a stranger gets the index, but cannot post.
    put(mail("eve@test.example", "dir"));
    put(mail("eve@test.example", "Hi all"));
    Result open = serve("-open");
    ASSERT_EQ(open.status, 0) << open.err;
    EXPECT_TRUE(has(open.out, "list/unknown: eve@test.example ... 'Hi all'\r\n")) << open.out;
    std::vector<std::string> index = delivered("eve", 1);
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(mail_suite::subject_line(index[0]), "Subject: RE: dir");
    EXPECT_TRUE(remaining("ann").empty()) << "the stranger's post went nowhere";

    // "-noatt": the part stays out; the text says so.
    put(with_attachment(ann, "Plans"));
    Result noatt = serve("-noatt");
    ASSERT_EQ(noatt.status, 0) << noatt.err;
    for (const char* user : {"ann", "bob", "boss"}) {
        std::vector<std::string> files = delivered_files(user, 1);
        ASSERT_EQ(files.size(), 1u) << user;
        std::string text = fixtures::slurp(files[0]);
        EXPECT_TRUE(has(text, "Attachment deleted: plans.bin")) << text;
        EXPECT_FALSE(has(text, "filename=")) << text;
    }
}

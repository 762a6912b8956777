// A test suite against the mail servers of tools/fixtures/mail_servers
// (Dovecot with Postfix delivering into it), started once for the suite:
// the messages of tests/support/seed_messages.py seeded into a user's
// Maildir folder, and what stays there read back after a run.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "command.h"
#include "fixtures.h"
#include "loopback_peer.h"

namespace mail_suite {

const char* const seeds[] = {"plain", "mixed", "utf8", "uu", "twin"};

// The "Subject: ..." line of a message text (encoded words as they are).
inline std::string subject_line(const std::string& text)
{
    size_t at = text.find("\nSubject: ");
    return at == std::string::npos ? "?" : text.substr(at + 1, text.find_first_of("\r\n", at + 1) - at - 1);
}

}  // namespace mail_suite

// Suite names its own test class, so each suite has servers of its own.
template <typename Suite>
class MailSuite : public ::testing::Test {
protected:
    // The servers with implicit TLS on the ports given (the others free),
    // and the users ("name:password", or with ":referral...").
    static void start_servers(const std::string& imaps_port, const std::string& pop3s_port,
                              std::initializer_list<const char*> users)
    {
        if (!fixtures::have_program("postfix") || !fixtures::have_program("dovecot")) return;
        dir = fixtures::temp_folder();
        for (std::string* p : {&smtp, &smtps, &smtp_login, &lmtp, &auth, &imap, &pop3}) *p = closed_port();
        imaps = imaps_port;
        pop3s = pop3s_port;
        std::string cmd = fixtures::script("mail_servers") + " start " + dir;
        for (const std::string* p : {&smtp, &smtps, &smtp_login, &lmtp, &auth, &imap, &pop3, &imaps, &pop3s})
            cmd += " " + *p;
        for (const char* u : users) cmd += std::string(" ") + u;
        started = std::system((cmd + " >" + dir + "/fixture.log 2>&1").c_str()) == 0;
        run_command_line("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) + "/tests/support/seed_messages.py " +
                         dir + "/seeds");
    }
    static void TearDownTestSuite()
    {
        if (dir.empty()) return;
        std::system((fixtures::script("mail_servers") + " stop " + dir).c_str());
        std::system(("rm -rf " + dir).c_str());
        dir.clear();
    }
    void SetUp() override
    {
        REQUIRE_PROGRAM("postfix");
        REQUIRE_PROGRAM("dovecot");
        ASSERT_TRUE(started) << fixtures::slurp(dir + "/fixture.log");
        work = fixtures::temp_folder();
    }
    void TearDown() override { std::system(("rm -rf " + work).c_str()); }

    // A user's Maildir, or one of its folders (".Name" in Maildir++).
    static std::string maildir(const std::string& user, const std::string& folder = "")
    {
        return dir + "/home/" + user + "/Maildir" + (folder.empty() ? "" : "/." + folder);
    }

    // The mailbox (or folder) of user holds these seeds, in this order,
    // and nothing else.
    static void seed(const std::vector<std::string>& names, const std::string& user = "u")
    {
        std::string box = maildir(user);
        std::string cmd = "rm -f " + box + "/new/* " + box + "/cur/*";
        // Names never used before: Dovecot remembers the number it gave a
        // name, and takes new names in the order of their time stamps.
        static int serial = 0;
        for (const std::string& name : names) {
            ++serial;
            cmd += " && cp " + dir + "/seeds/" + name + ".eml " + box + "/new/" + std::to_string(1700000000 + serial) +
                   ".M" + std::to_string(serial) + "P1.seed";
        }
        cmd += " && chown -R 5000:5000 " + box;
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    static void seed_all()
    {
        seed(std::vector<std::string>(std::begin(mail_suite::seeds), std::end(mail_suite::seeds)));
    }

    // The message files of a user's mailbox or folder, by their names.
    static std::vector<std::string> message_files(const std::string& user = "u", const std::string& folder = "")
    {
        std::vector<std::string> files;
        for (const char* sub : {"/new", "/cur"}) {
            std::string path = maildir(user, folder) + sub;
            DIR* d = opendir(path.c_str());
            if (!d) continue;
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.') files.push_back(path + "/" + e->d_name);
            closedir(d);
        }
        return files;
    }
    // The subject lines of the messages that stay there, sorted.
    static std::vector<std::string> remaining(const std::string& user = "u", const std::string& folder = "")
    {
        std::vector<std::string> found;
        for (const std::string& file : message_files(user, folder))
            found.push_back(mail_suite::subject_line(fixtures::slurp(file)));
        std::sort(found.begin(), found.end());
        return found;
    }
    // What stays of the seeds when the ones numbered (from 1) in gone went.
    static std::vector<std::string> seeds_but(std::initializer_list<int> gone)
    {
        std::vector<std::string> left;
        for (int i = 0; i < 5; ++i)
            if (std::find(gone.begin(), gone.end(), i + 1) == gone.end())
                left.push_back(mail_suite::subject_line(fixtures::slurp(dir + "/seeds/" + mail_suite::seeds[i] + ".eml")));
        std::sort(left.begin(), left.end());
        return left;
    }
    static size_t seeded_bytes()
    {
        size_t total = 0;
        for (const char* name : mail_suite::seeds) total += fixtures::slurp(dir + "/seeds/" + name + ".eml").size();
        return total;
    }
    // Waits up to ten seconds for count messages in a user's mailbox.
    static std::vector<std::string> arrived(const std::string& user, size_t count)
    {
        std::vector<std::string> got;
        for (int i = 0; i < 100; ++i) {
            got = remaining(user);
            if (got.size() >= count) break;
            LoopbackPeer::pause_ms(100);
        }
        return got;
    }

    std::string work;
    static std::string dir, smtp, smtps, smtp_login, lmtp, auth, imap, pop3, imaps, pop3s;
    static bool started;
};

template <typename Suite>
std::string MailSuite<Suite>::dir;
template <typename Suite>
std::string MailSuite<Suite>::smtp;
template <typename Suite>
std::string MailSuite<Suite>::smtps;
template <typename Suite>
std::string MailSuite<Suite>::smtp_login;
template <typename Suite>
std::string MailSuite<Suite>::lmtp;
template <typename Suite>
std::string MailSuite<Suite>::auth;
template <typename Suite>
std::string MailSuite<Suite>::imap;
template <typename Suite>
std::string MailSuite<Suite>::pop3;
template <typename Suite>
std::string MailSuite<Suite>::imaps;
template <typename Suite>
std::string MailSuite<Suite>::pop3s;
template <typename Suite>
bool MailSuite<Suite>::started = false;

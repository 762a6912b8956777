// The IMAP reader against scripted servers, for the answers a real server
// does not give on demand: wrong tags, FETCH answers for other messages,
// every way of logging in, LIST names in all their forms, referrals and
// their loops, SEARCH answers, names that must be escaped or refused, IDLE,
// ACL answers, literals split across TLS records; then a hostile server
// (endless, huge and broken answers); and what the user sees of some of it
// through the tavrin program.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "../../support/command.h"
#include "../../support/imap_peer.h"
#include "../../support/tls_peer.h"
#include "base/text_stream.h"
#include "retrieve/imap_client.h"

namespace {

using Lines = std::vector<std::string>;
using Session = ImapPeer::Session;
constexpr size_t npos = std::string::npos;

std::string standard(Session& s) { return s.standard(); }

int open(ImapClient& imap, const ImapPeer& peer)
{
    imap.timeout = 10;
    return imap.open_connection("127.0.0.1", peer.port().c_str(), nullptr, 0);
}

// The message text as long as the reader says it is (never past its end:
// the test messages hold no NUL).
std::string body(const ReadMail& r)
{
    return std::string(r.text(), std::min(static_cast<size_t>(r.body_length), std::strlen(r.text())));
}

std::string reported() { return report_stream.contents(); }

// "{n}" CR LF and the text: an IMAP literal.
std::string literal(const std::string& text) { return "{" + std::to_string(text.size()) + "}\r\n" + text; }

// The answer to a FETCH of a whole message.
std::string fetched(int n, unsigned uid, const std::string& text)
{
    return "* " + std::to_string(n) + " FETCH (UID " + std::to_string(uid) + " RFC822.SIZE " +
           std::to_string(text.size()) + " FLAGS (\\Seen) BODY[] " + literal(text) + ")\r\n";
}

std::string message(int n) { return "Subject: m" + std::to_string(n) + "\r\n\r\nbody " + std::to_string(n) + "\r\n"; }

// A mailbox of these messages, numbered from 1 with the UIDs 11, 12, ...:
// CAPABILITY with caps, SELECT, the sizes, FETCH and UID FETCH of one
// message (its header alone for BODY.PEEK[HEADER]; its structure, text/html
// for the first message and text/plain for the others, for BODYSTRUCTURE),
// UID SEARCH (every message); everything else as standard.
ImapPeer::Answer mailbox(std::vector<std::string> messages, std::string caps = "IMAP4rev1")
{
    return [messages, caps](Session& s) -> std::string {
        int count = static_cast<int>(messages.size()), n = 0, last = 0;
        unsigned uid = 0;
        std::string c = s.command();
        if (s.is("CAPABILITY")) return "* CAPABILITY " + caps + "\r\n" + s.ok();
        if (s.is("SELECT") || s.is("EXAMINE"))
            return "* " + std::to_string(count) + " EXISTS\r\n* OK [UIDVALIDITY 9] ok\r\n" + s.ok("[READ-WRITE] done");
        if (std::sscanf(c.c_str(), "FETCH %d:%d", &n, &last) == 2 && c.find("BODY") == npos) {
            std::string out;
            for (int i = n; i <= last && i <= count; ++i)
                out += "* " + std::to_string(i) + " FETCH (UID " + std::to_string(10 + i) + " RFC822.SIZE " +
                       std::to_string(messages[i - 1].size()) + ")\r\n";
            return out + s.ok();
        }
        n = 0;
        if (std::sscanf(c.c_str(), "UID FETCH %u", &uid) == 1) n = static_cast<int>(uid) - 10;
        else if (std::sscanf(c.c_str(), "FETCH %d", &n) != 1) n = 0;
        if (n >= 1 && n <= count && c.find("BODYSTRUCTURE") != npos)
            return "* " + std::to_string(n) + " FETCH (UID " + std::to_string(10 + n) + " BODYSTRUCTURE (\"TEXT\" \"" +
                   (n == 1 ? "HTML" : "PLAIN") + "\" (\"CHARSET\" \"US-ASCII\") NIL NIL \"7BIT\" 8 1))\r\n" + s.ok();
        if (n >= 1 && n <= count) {
            std::string text = messages[n - 1];
            if (c.find("BODY.PEEK[HEADER]") != npos) text = text.substr(0, text.find("\r\n\r\n") + 4);
            return fetched(n, static_cast<unsigned>(10 + n), text) + s.ok();
        }
        if (s.is("UID SEARCH")) {
            std::string out = "* SEARCH";
            for (int i = 1; i <= count; ++i) out += " " + std::to_string(10 + i);
            return out + "\r\n" + s.ok();
        }
        return s.standard();
    };
}

CommandResult tavrin(const ImapPeer& peer, const std::string& args)
{
    return run_command_line(std::string(TAVRIN_BINARY) + " -imap -host:127.0.0.1 -port:" + peer.port() +
                            " -user:u -pass:p -tmo:10 " + args + " < /dev/null");
}

// The texts of a list (a copy of it is emptied).
std::vector<std::string> strings(List<string> list)
{
    std::vector<std::string> out;
    string s;
    while (list.take_first(s)) out.push_back(s.c_str());
    return out;
}

std::string base64(const std::string& bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

// The resident size of this process in bytes.
size_t resident_bytes()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

TEST(ImapClient, TagsCountFromOneAndAWrongTagFailsTheCommand)
{
    ImapPeer peer([](Session& s) -> std::string {
        if (s.is("SELECT")) return "* 2 EXISTS\r\n" + s.ok();
        if (s.is("CREATE")) return "41 OK created\r\n";  // not this command's tag
        return s.standard();
    });
    clear_report();
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    ASSERT_EQ(imap.login("u", "p"), 1);
    ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
    EXPECT_EQ(imap.message_count, 2);
    EXPECT_EQ(imap.create_mailbox("New"), -1);
    EXPECT_NE(reported().find("Sequence error, got: 41, expected: 5 [41 OK created]\r\n"), npos) << reported();
    imap.disconnect();
    peer.join();
    EXPECT_EQ(peer.lines(), (Lines{"1 CAPABILITY", "2 LOGIN \"u\" \"p\"", "3 CAPABILITY", "4 SELECT \"INBOX\"",
                                   "5 CREATE \"New\"", "6 LOGOUT"}));
}

// While message 3 is fetched the server reports on message 7 (a flag
// change, or with a literal of its own) or on message 3 without its text:
// all of it is read past; when message 3 never comes, the fetch fails and
// says which message came instead. Either way the next command gets its
// own answer.
TEST(ImapClient, FetchAnswersForOtherMessagesAreReadPast)
{
    const std::string wanted = fetched(3, 13, message(3));
    const std::string flags7 = "* 7 FETCH (FLAGS (\\Seen))\r\n";
    const std::string literal7 = "* 7 FETCH (UID 17 BODY[HEADER] " + literal("X: 7\r\n\r\n") + ")\r\n";
    const struct {
        bool by_uid;
        std::string answer;
        int result;
    } cases[] = {
        {false, flags7 + wanted, 1},
        {false, literal7 + wanted, 1},
        {false, "* 3 FETCH (FLAGS (\\Seen))\r\n" + wanted, 1},
        {false, flags7 + literal7, -1},
        {true, flags7 + literal7 + wanted, 1},
        {true, "* 3 FETCH (UID 13 FLAGS (\\Seen))\r\n" + wanted, 1},
    };
    for (const auto& c : cases) {
        std::string answer = c.answer;
        ImapPeer peer([answer](Session& s) -> std::string {
            if (s.is("SELECT")) return "* 10 EXISTS\r\n" + s.ok();
            if (s.is("FETCH 1:10")) {
                std::string out;
                for (int i = 1; i <= 10; ++i) out += "* " + std::to_string(i) + " FETCH (UID " + std::to_string(10 + i) + " RFC822.SIZE 20)\r\n";
                return out + s.ok();
            }
            if (s.is("FETCH 3 ") || s.is("UID FETCH 13 ")) return answer + s.ok();
            return s.standard();
        });
        clear_report();
        ImapClient imap;
        ASSERT_EQ(open(imap, peer), 1);
        ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
        ASSERT_EQ(imap.fetch_sizes(1, 0), 1);
        EXPECT_EQ(c.by_uid ? imap.retrieve_uid(13) : imap.retrieve(3), c.result) << answer;
        if (c.result == 1) {
            EXPECT_EQ(body(imap), "body 3\r\n") << answer;
            EXPECT_EQ(imap.hdr_subject, "m3");
            EXPECT_EQ(imap.last_retrieved_number(), 13);
        } else {
            EXPECT_NE(reported().find("Message nbr missmatch: got = 7, expected = 3\r\n"), npos) << reported();
        }
        // A flag change does not make the server forget a message's UID.
        EXPECT_EQ(imap.message_uid(7), 17) << answer;
        EXPECT_EQ(imap.create_mailbox("next"), 1) << answer;
    }
}

// The structure taken is the line of the message asked for that carries
// one: a flag change for it and another message's structure are read past.
TEST(ImapClient, TheStructureIsTheLineThatCarriesIt)
{
    const std::string plain = "(\"TEXT\" \"PLAIN\" (\"CHARSET\" \"US-ASCII\") NIL NIL \"7BIT\" 8 1)";
    ImapPeer peer([&](Session& s) -> std::string {
        if (s.is("SELECT")) return "* 3 EXISTS\r\n" + s.ok();
        if (s.is("FETCH 2 (UID BODYSTRUCTURE)") || s.is("UID FETCH 12 (UID BODYSTRUCTURE)"))
            return "* 2 FETCH (FLAGS (\\Seen))\r\n* 3 FETCH (UID 13 BODYSTRUCTURE (\"TEXT\" \"HTML\" NIL NIL NIL "
                   "\"7BIT\" 8 1))\r\n* 2 FETCH (UID 12 bodystructure " + plain + ")\r\n" + s.ok();
        return s.standard();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
    for (bool by_uid : {false, true}) {
        ASSERT_EQ(by_uid ? imap.fetch_structure_uid(12) : imap.fetch_structure(2), 1) << by_uid;
        imap_part part;
        ASSERT_EQ(imap.parts.count(), 1) << by_uid;
        ASSERT_EQ(imap.parts.take_first(part), 1);
        EXPECT_EQ(part.content_type, "TEXT/PLAIN") << by_uid;
        EXPECT_EQ(imap.last_retrieved_number(), 12) << by_uid;
    }
}

// Sizes and UIDs in whatever order the server sends them; a later line for
// a message keeps what is known of it.
TEST(ImapClient, SizesAndUidsInAnyOrder)
{
    ImapPeer peer([](Session& s) -> std::string {
        if (s.is("SELECT")) return "* 3 EXISTS\r\n" + s.ok();
        if (s.is("FETCH 1:3"))
            return "* 3 FETCH (UID 13 RFC822.SIZE 30)\r\n* 2 FETCH (RFC822.SIZE 20 UID 12)\r\n"
                   "* 1 FETCH (UID 11 RFC822.SIZE 10)\r\n" + s.ok();
        // Any command's answer may carry flag changes.
        if (s.is("CREATE")) return "* 2 FETCH (FLAGS (\\Seen))\r\n* 3 FETCH (FLAGS (\\Seen))\r\n" + s.ok();
        return s.standard();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    ASSERT_EQ(imap.open_mailbox("INBOX", 0), 1);
    EXPECT_EQ(imap.body_length, 60u);
    auto check = [&](const char* when) {
        for (int n = 1; n <= 3; ++n) {
            EXPECT_EQ(imap.message_uid(n), 10 + n) << n << " " << when;
            EXPECT_EQ(imap.message_size(n), 10 * n) << n << " " << when;
        }
    };
    check("after the sizes");
    ASSERT_EQ(imap.create_mailbox("x"), 1);
    check("after flag changes");
}

// A message's lines that begin with a dot are its own over IMAP (no dot is
// taken off); a literal that ends right after a header line, with the
// FETCH going on behind it, is read to its end and no further.
TEST(ImapClient, MessageLiteralsAreTakenAsTheyAre)
{
    const std::string dotted = "Subject: dots\r\n\r\n.x\r\n..y\r\n.\r\nend\r\n";
    const std::string header_only = "Subject: only a header\r\n";
    ImapPeer peer([&](Session& s) -> std::string {
        if (s.is("SELECT")) return "* 2 EXISTS\r\n" + s.ok();
        if (s.is("FETCH 1 ")) return fetched(1, 11, dotted) + s.ok();
        if (s.is("FETCH 2 ")) return "* 2 FETCH (BODY[] " + literal(header_only) + " UID 12 FLAGS (\\Seen))\r\n" + s.ok();
        return s.standard();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
    ASSERT_EQ(imap.retrieve(1), 1);
    EXPECT_EQ(body(imap), ".x\r\n..y\r\n.\r\nend\r\n");
    ASSERT_EQ(imap.retrieve(2), 1);
    EXPECT_EQ(imap.hdr_subject, "only a header");
    EXPECT_EQ(imap.last_retrieved_number(), 12);
    EXPECT_STREQ(imap.seen_flag(), "\\Seen");
    EXPECT_EQ(imap.create_mailbox("next"), 1);
}

TEST(ImapClient, LoginFollowsTheCapabilities)
{
    const std::string challenge = "<1896.697170952@test.example>";
    unsigned char digest[16];
    unsigned digest_length = 0;
    HMAC(EVP_md5(), "p\"w\\d", 5, reinterpret_cast<const unsigned char*>(challenge.data()), challenge.size(), digest,
         &digest_length);
    std::string hex;
    for (unsigned i = 0; i < digest_length; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    const struct {
        const char* caps;
        int challenge_auth;
        Lines sent;  // after "1 CAPABILITY", before the CAPABILITY that follows the login
    } cases[] = {
        {"IMAP4rev1", 1, {"2 LOGIN \"u\" \"p\\\"w\\\\d\""}},
        {"IMAP4rev1 AUTH=PLAIN AUTH=CRAM-MD5", 0, {"2 AUTHENTICATE PLAIN", base64(std::string("\0u\0p\"w\\d", 8))}},
        {"IMAP4rev1 AUTH=PLAIN AUTH=CRAM-MD5", 1, {"2 AUTHENTICATE CRAM-MD5", base64("u " + hex)}},
        {"IMAP4rev1 AUTH=LOGIN", 0, {"2 AUTHENTICATE LOGIN", base64("u"), base64("p\"w\\d")}},
    };
    for (const auto& c : cases) {
        std::string caps = c.caps;
        ImapPeer peer([caps, challenge, pending = std::string(), steps = 0](Session& s) mutable -> std::string {
            if (s.is("CAPABILITY")) return "* CAPABILITY " + caps + "\r\n" + s.ok();
            if (s.is("AUTHENTICATE")) {
                pending = s.tag();
                return s.is("AUTHENTICATE CRAM-MD5") ? "+ " + base64(challenge) + "\r\n" : "+ \r\n";
            }
            if (!pending.empty()) {
                // AUTHENTICATE LOGIN asks twice.
                if (caps.find("AUTH=LOGIN") != npos && ++steps == 1) return "+ \r\n";
                return pending + " OK logged in\r\n";
            }
            return s.standard();
        });
        ImapClient imap;
        imap.challenge_auth = c.challenge_auth;
        ASSERT_EQ(open(imap, peer), 1) << caps;
        EXPECT_EQ(imap.login("u", "p\"w\\d"), 1) << caps;
        imap.disconnect();
        peer.join();
        Lines expected{"1 CAPABILITY"};
        expected.insert(expected.end(), c.sent.begin(), c.sent.end());
        expected.insert(expected.end(), {"3 CAPABILITY", "4 LOGOUT"});
        EXPECT_EQ(peer.lines(), expected) << caps;
    }
    // SORT=DISPLAY alone offers sorting; IDLE is not in the line.
    ImapPeer sorting([](Session& s) -> std::string {
        return s.is("CAPABILITY") ? "* CAPABILITY IMAP4rev1 SORT=DISPLAY\r\n" + s.ok() : s.standard();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, sorting), 1);
    EXPECT_EQ(imap.has_sort, 1);
    EXPECT_EQ(imap.has_idle, 0);
}

TEST(ImapClient, ListedNamesInTheirFormsAndTheListAgain)
{
    ImapPeer peer([](Session& s) -> std::string {
        if (s.is("LIST"))
            return "* LIST (\\HasNoChildren) \"/\" \"My Folder\"\r\n"
                   "* LIST (\\HasChildren \\Marked \\Sent) \"/\" Sent\r\n"
                   "* LIST () \"/\" " + literal("My\\\"Name") + "\r\n" + s.ok();
        if (s.is("LSUB")) return "* LSUB (\\Noselect) \"/\" Hidden\r\n* LSUB () \"/\" Shown\r\n" + s.ok();
        return s.standard();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    auto names = [&] {
        Lines got;
        string name;
        while (imap.next_mailbox_name(name)) got.push_back(name.c_str());
        EXPECT_EQ(name, "");
        return got;
    };
    ASSERT_EQ(imap.list_mailboxes("", 0), 1);
    const Lines listed{"My Folder", "Sent", "My\\\"Name"};
    EXPECT_EQ(names(), listed);
    EXPECT_EQ(names(), listed);  // again, from the start
    ASSERT_EQ(imap.list_mailboxes("%", 1), 1);
    EXPECT_EQ(names(), Lines{"Shown"});
    // The refill holds every name listed on this client.
    EXPECT_EQ(names(), (Lines{"My Folder", "Sent", "My\\\"Name", "Shown"}));
    EXPECT_EQ(peer.lines(), (Lines{"1 CAPABILITY", "2 LIST \"\" \"*\"", "3 LSUB \"\" \"%\""}));
}

TEST(ImapClient, ReferralsMoveTheClientAndALoopEnds)
{
    // In the greeting, to the port the URL names; after a refused LOGIN,
    // with the user the URL names.
    ImapPeer second(standard);
    ImapPeer first(standard, "* OK [REFERRAL imap://u;AUTH=*@127.0.0.1:" + second.port() + "/] go there\r\n");
    ImapClient imap;
    ASSERT_EQ(open(imap, first), 1);
    ImapPeer third(standard);
    ImapPeer refusing([&third](Session& s) -> std::string {
        if (s.is("LOGIN")) return s.no("[REFERRAL imap://bob;AUTH=*@127.0.0.1:" + third.port() + "/] elsewhere");
        return s.standard();
    });
    ASSERT_EQ(open(imap, refusing), 1);
    EXPECT_EQ(imap.login("u", "p"), 1);
    imap.disconnect();
    second.join();
    third.join();
    EXPECT_EQ(first.lines(), Lines{});
    EXPECT_EQ(second.lines(), Lines{"1 CAPABILITY"});
    EXPECT_EQ(third.lines(), (Lines{"1 CAPABILITY", "2 LOGIN \"bob\" \"p\"", "3 CAPABILITY", "4 LOGOUT"}));

    // A server that refers to itself, in the greeting or at LOGIN: a few
    // hops, then a failure; the client can follow a referral afterwards.
    clear_report();
    ImapPeer loop(standard, "* OK [REFERRAL imap://u;AUTH=*@127.0.0.1:%PORT%/] again\r\n", 10);
    EXPECT_LT(open(imap, loop), 1);
    EXPECT_LE(loop.connections_served(), 5);
    EXPECT_NE(reported().find("Too many referrals\r\n"), npos) << reported();
    ImapPeer login_loop([](Session& s) -> std::string {
        if (s.is("LOGIN")) return s.no("[REFERRAL imap://u;AUTH=*@127.0.0.1:" + s.port + "/] again");
        return s.standard();
    }, "* OK ready\r\n", 10);
    ASSERT_EQ(open(imap, login_loop), 1);
    EXPECT_LT(imap.login("u", "p"), 1);
    EXPECT_LE(login_loop.connections_served(), 5);
    imap.disconnect();
    ImapPeer fourth(standard);
    ImapPeer referring(standard, "* OK [REFERRAL imap://u;AUTH=*@127.0.0.1:" + fourth.port() + "/] go there\r\n");
    EXPECT_EQ(open(imap, referring), 1);
    imap.disconnect();
    fourth.join();
    EXPECT_EQ(fourth.lines().at(0), "1 CAPABILITY");
}

TEST(ImapClient, SearchResultsAreTheMessagesOfTheRun)
{
    ImapPeer peer([searches = 0](Session& s) mutable -> std::string {
        if (s.is("SELECT")) return "* 5 EXISTS\r\n" + s.ok();
        if (s.is("UID SEARCH")) {
            const std::string answers[] = {"* SEARCH\r\n", "* SEARCH 12 15\r\n", "* SEARCH 1 2 3 4 5 6 7 8 9\r\n",
                                           "* SEARCH " + literal("1 2 3") + "\r\n"};
            return answers[searches++ % 4] + s.ok();
        }
        if (s.is("UID FETCH 15 ")) return fetched(2, 15, message(2)) + s.ok();
        return s.standard();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    EXPECT_EQ(imap.sort_messages("DATE", "ALL"), 0);  // not offered
    ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
    EXPECT_EQ(imap.search_messages("FROM x"), 1);
    EXPECT_EQ(imap.message_count, 0);
    EXPECT_EQ(imap.search_messages("ALL"), 0);  // done until the next SELECT
    EXPECT_EQ(peer.lines_with("UID SEARCH").size(), 1u);

    ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
    ASSERT_EQ(imap.search_messages(""), 1);
    ASSERT_EQ(imap.message_count, 2);
    EXPECT_EQ(imap.result_uid(1), 12);
    EXPECT_EQ(imap.result_uid(2), 15);
    EXPECT_EQ(imap.result_uid(3), 0);
    ASSERT_EQ(imap.retrieve_uid(static_cast<uint32_t>(imap.result_uid(2))), 1);
    EXPECT_EQ(body(imap), "body 2\r\n");

    // More numbers than messages, and numbers in a literal: bounded.
    for (int expected : {5, 0}) {
        ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
        EXPECT_EQ(imap.search_messages("ALL"), 1);
        EXPECT_EQ(imap.message_count, expected);
    }
    EXPECT_EQ(imap.create_mailbox("next"), 1);
    EXPECT_EQ(peer.lines_with("UID SEARCH"),
              (Lines{"3 UID SEARCH FROM x", "5 UID SEARCH ALL", "8 UID SEARCH ALL", "10 UID SEARCH ALL"}));
}

// Quotes and backslashes in names go out escaped; a name with a line end
// would end the command early and start another: it is refused, nothing
// goes out, and the tags on the wire still count up one by one.
TEST(ImapClient, NamesAreEscapedAndLineEndsRefused)
{
    ImapPeer peer([](Session& s) -> std::string {
        if (s.is("CAPABILITY")) return "* CAPABILITY IMAP4rev1 ACL\r\n" + s.ok();
        return s.standard();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    EXPECT_EQ(imap.create_mailbox("a\"b\\c"), 1);
    EXPECT_EQ(imap.rename_mailbox("x\\", "y\""), 1);
    EXPECT_EQ(imap.set_acl("IN\"BOX", "b\\ob", "lr"), 1);
    EXPECT_EQ(imap.select_mailbox("Bad\r\n9 DELETE INBOX", 0), -1);
    EXPECT_NE(std::string(imap.reply).find("line end"), npos) << imap.reply;
    EXPECT_EQ(imap.create_mailbox("x\ny"), -1);
    EXPECT_EQ(imap.copy_message(1, "z\r", 1), -1);
    EXPECT_EQ(imap.delete_mailbox("d"), 1);
    imap.disconnect();
    peer.join();
    EXPECT_EQ(peer.lines(), (Lines{"1 CAPABILITY", "2 CREATE \"a\\\"b\\\\c\"", "3 RENAME \"x\\\\\" \"y\\\"\"",
                                   "4 SETACL \"IN\\\"BOX\" \"b\\\\ob\" \"lr\"", "5 DELETE \"d\""}));
}

TEST(ImapClient, AMoveWhoseCopyIsRefusedStoresNothing)
{
    for (bool refused : {true, false}) {
        ImapPeer peer([refused](Session& s) -> std::string {
            if (s.is("SELECT")) return "* 3 EXISTS\r\n" + s.ok();
            if (s.is("COPY") || s.is("UID COPY")) return refused ? s.no("[TRYCREATE] no such mailbox") : s.ok();
            return s.standard();
        });
        ImapClient imap;
        ASSERT_EQ(open(imap, peer), 1);
        ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
        EXPECT_EQ(imap.move_message(2, "Archive"), refused ? -1 : 1);
        EXPECT_EQ(imap.move_uid(12, "Archive"), refused ? -1 : 1);
        imap.disconnect();
        peer.join();
        EXPECT_EQ(peer.lines_with("STORE"), refused ? Lines{} : Lines{"4 STORE 2 +FLAGS (\\Deleted)"});
        EXPECT_EQ(peer.lines_with("UID STORE"), refused ? Lines{} : Lines{"6 UID STORE 12 +FLAGS (\\Deleted)"});
    }
}

// IDLE: not offered, nothing is sent; offered, EXISTS lines end the wait
// once they count a message ("* 0 EXISTS" does not), and DONE goes out
// before the next command. A server that ends the IDLE itself ends the
// wait, and no DONE follows.
TEST(ImapClient, IdleWaitsForMessagesAndEndsWithDone)
{
    ImapPeer plain(standard);
    ImapClient without;
    ASSERT_EQ(open(without, plain), 1);
    EXPECT_EQ(without.start_idle(), 0);
    EXPECT_EQ(without.idle_wait(1), 0);
    without.disconnect();
    plain.join();
    EXPECT_EQ(plain.lines(), Lines{"1 CAPABILITY"});

    for (bool server_ends : {false, true}) {
        ImapPeer peer([server_ends, idle_tag = std::string()](Session& s) mutable -> std::string {
            if (s.is("CAPABILITY")) return "* CAPABILITY IMAP4rev1 IDLE\r\n" + s.ok();
            if (s.is("SELECT")) return "* 0 EXISTS\r\n" + s.ok();
            if (s.is("IDLE")) {
                idle_tag = s.tag();
                return server_ends ? "+ idling\r\n" + s.ok("IDLE ended") : "+ idling\r\n* 0 EXISTS\r\n* 2 EXISTS\r\n";
            }
            if (s.line == "DONE") return idle_tag + " OK IDLE done\r\n";
            return s.standard();
        });
        ImapClient imap;
        ASSERT_EQ(open(imap, peer), 1);
        ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
        ASSERT_EQ(imap.start_idle(), 1);
        if (server_ends) {
            EXPECT_LT(imap.idle_wait(5), 0);
            EXPECT_EQ(imap.idling, 0);
            EXPECT_EQ(imap.end_idle(), 0);
        } else {
            EXPECT_GT(imap.idle_wait(5), 0);
            EXPECT_EQ(imap.message_count, 0);
            EXPECT_GT(imap.idle_wait(5), 0);
            EXPECT_EQ(imap.message_count, 2);
            EXPECT_EQ(imap.end_idle(), 1);
        }
        EXPECT_EQ(imap.select_mailbox("INBOX", 0), 1);
        imap.disconnect();
        peer.join();
        Lines expected{"1 CAPABILITY", "2 SELECT \"INBOX\"", "3 IDLE", "DONE", "4 SELECT \"INBOX\""};
        if (server_ends) expected.erase(expected.begin() + 3);
        EXPECT_EQ(peer.lines(), expected) << server_ends;
    }
}

TEST(ImapClient, AclAnswers)
{
    std::string long_acl;
    for (int i = 10; i < 40; ++i) long_acl += " user" + std::to_string(i) + " lrs";
    ImapPeer peer([long_acl, acls = 0](Session& s) mutable -> std::string {
        if (s.is("CAPABILITY")) return "* CAPABILITY IMAP4rev1 ACL\r\n" + s.ok();
        if (s.is("LISTRIGHTS")) return "* LISTRIGHTS INBOX bob lr a 0 1\r\n" + s.ok("LISTRIGHTS INBOX eve rwx");
        if (s.is("MYRIGHTS")) return "* MYRIGHTS INBOX lrswi\r\n" + s.ok("MYRIGHTS INBOX x");
        if (s.is("GETACL"))
            return (acls++ == 0 ? "* ACL INBOX u lrswipkxtecda bob lr\r\n" : "* ACL \"Big Box\"" + long_acl + "\r\n") +
                   s.ok("ACL INBOX eve rwx");
        return s.standard();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    string required;
    List<string> optional;
    ASSERT_EQ(imap.list_rights("INBOX", "bob", required, optional), 1);
    EXPECT_EQ(required, "lr");
    EXPECT_EQ(strings(optional), (Lines{"a", "0", "1"}));
    string mine;
    ASSERT_EQ(imap.my_rights("INBOX", mine), 1);
    EXPECT_EQ(mine, "lrswi");
    List<string> identifiers, rights;
    ASSERT_EQ(imap.get_acl("INBOX", identifiers, rights), 1);
    EXPECT_EQ(strings(identifiers), (Lines{"u", "bob"}));
    EXPECT_EQ(strings(rights), (Lines{"lrswipkxtecda", "lr"}));
    // A line longer than one token's rest keeps every pair whole.
    List<string> more_identifiers, more_rights;
    ASSERT_EQ(imap.get_acl("Big Box", more_identifiers, more_rights), 1);
    Lines many = strings(more_identifiers), granted = strings(more_rights);
    ASSERT_EQ(many.size(), 30u);
    EXPECT_EQ(many.back(), "user39");
    EXPECT_EQ(granted, Lines(30, "lrs"));

    string rest;
    EXPECT_EQ(acl_token("\"Tom &- Jerry\" lr x", rest), "Tom & Jerry");
    EXPECT_EQ(rest, "lr x");
    EXPECT_EQ(acl_token("\"a\\\"b\"", rest), "a\"b");
    EXPECT_EQ(acl_token("plain  next\r\n", rest), "plain");
    EXPECT_EQ(rest, "next\r\n");
}

TEST(ImapClient, AclOperationsNeedTheCapability)
{
    ImapPeer peer(standard);
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    string text;
    List<string> a, b;
    EXPECT_EQ(imap.set_acl("INBOX", "bob", "lr"), 0);
    EXPECT_EQ(imap.delete_acl("INBOX", "bob"), 0);
    EXPECT_EQ(imap.get_acl("INBOX", a, b), 0);
    EXPECT_EQ(imap.list_rights("INBOX", "bob", text, a), 0);
    EXPECT_EQ(imap.my_rights("INBOX", text), 0);
    imap.disconnect();
    peer.join();
    EXPECT_EQ(peer.lines(), Lines{"1 CAPABILITY"});
}

// Over TLS a read returns one record at a time: a literal split across
// records (a name, another message's header) is still read whole.
TEST(ImapClient, LiteralsSplitAcrossTlsRecordsAreReadWhole)
{
    const std::string other = "X-Other: 7\r\n\r\n";
    TlsPeer peer([&](TlsPeer::Session& s) {
        s.write("* OK ready\r\n");
        s.read_line();
        s.write("* CAPABILITY IMAP4rev1\r\n1 OK\r\n");
        s.read_line();
        s.write("* LIST () \"/\" {8}\r\nMy");
        s.write("\\\"Name\r\n2 OK\r\n");
        s.read_line();
        s.write("* 9 EXISTS\r\n3 OK\r\n");
        s.read_line();
        s.write("* 7 FETCH (UID 17 BODY[HEADER] " + literal(other).substr(0, 10));
        s.write(literal(other).substr(10) + ")\r\n" + fetched(3, 13, message(3)) + "4 OK\r\n");
        s.read_line();
        s.write("* BYE\r\n5 OK\r\n");
    });
    ImapClient imap;
    imap.use_tls = 1;
    imap.timeout = 10;
    ASSERT_EQ(imap.open_connection("127.0.0.1", peer.port().c_str(), nullptr, 0), 1);
    ASSERT_EQ(imap.list_mailboxes("*", 0), 1);
    string name;
    EXPECT_EQ(imap.next_mailbox_name(name), 1);
    EXPECT_EQ(name, "My\\\"Name");
    ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
    ASSERT_EQ(imap.retrieve(3), 1);
    EXPECT_EQ(body(imap), "body 3\r\n");
    imap.disconnect();
}

// Bytes in the clear behind the STARTTLS answer would be read as if they
// had come through TLS: the start is refused.
TEST(ImapClient, PlaintextInjectedAfterTheStarttlsAnswerIsRefused)
{
    ImapPeer peer([](Session& s) -> std::string {
        if (s.is("CAPABILITY")) return "* CAPABILITY IMAP4rev1 STARTTLS\r\n" + s.ok();
        if (s.is("STARTTLS")) return s.ok("begin TLS") + "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n";
        return s.standard();
    });
    clear_report();
    ImapClient imap;
    imap.use_starttls = 1;
    EXPECT_LT(open(imap, peer), 1);
    EXPECT_FALSE(imap.connected());
    EXPECT_EQ(imap.has_auth_plain, 0);
    EXPECT_NE(error_stream.contents().find("unencrypted data before the handshake"), npos) << error_stream.contents();
}

// A hostile server: what it sends costs the reader no more than a bounded
// amount of memory and time, and ends in a failure where it must.

TEST(ImapHostile, AnEndlessStreamOfUntaggedLinesEnds)
{
    ImapPeer peer([](Session& s) -> std::string {
        if (!s.is("CREATE")) return s.standard();
        std::string chunk;
        for (int i = 0; i < 4096; ++i) chunk += "* OK still here\r\n";
        // 1.6 million lines, more than any reply may have, unless the
        // client gives up before.
        for (int i = 0; i < 400 && s.send(chunk); ++i) {
        }
        s.closing = true;
        return "";
    });
    clear_report();
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    EXPECT_LT(imap.create_mailbox("x"), 0);
    EXPECT_FALSE(imap.connected());
    EXPECT_NE(reported().find("IMAP OK() didn't complete\r\n"), npos);
}

TEST(ImapHostile, LinesOfSeveralMegabytes)
{
    const std::string huge(5 << 20, 'x');
    const struct {
        std::string (*answer)(Session&, const std::string&);
        int result;
    } cases[] = {
        {[](Session& s, const std::string& x) { return "* OK " + x + "\r\n" + s.ok(); }, 1},
        {[](Session& s, const std::string& x) { return s.ok(x); }, 1},
        {[](Session& s, const std::string& x) { return "* OK " + x + x + x + x + "\r\n" + s.ok(); }, -1},
    };
    for (const auto& c : cases) {
        ImapPeer peer([&](Session& s) -> std::string { return s.is("CREATE") ? c.answer(s, huge) : s.standard(); });
        ImapClient imap;
        ASSERT_EQ(open(imap, peer), 1);
        EXPECT_EQ(imap.create_mailbox("x"), c.result);
        EXPECT_LT(std::strlen(imap.reply), sizeof imap.reply);
        if (c.result == 1) {
            EXPECT_LE(imap.last_line().size(), (1u << 20) + 2);
            EXPECT_EQ(imap.create_mailbox("next"), 1);
        } else {
            EXPECT_FALSE(imap.connected());
        }
    }
}

// Literals that lie: too large to be true, larger than what comes before
// the close, smaller than the message.
TEST(ImapHostile, LiteralsThatLie)
{
    const std::string text = message(1);
    const struct {
        bool listing;  // a LIST name, else a message
        std::string answer;
        bool closes;
    } cases[] = {
        {true, "* LIST () \"/\" {99999999999}\r\nabc\r\n", false},
        {true, "* LIST () \"/\" {100}\r\nshort", true},
        {false, "* 1 FETCH (UID 11 BODY[] {99999999999}\r\n" + text + ")\r\n", false},
        {false, "* 1 FETCH (UID 11 BODY[] {4294967295}\r\n" + text, true},
        {false, "* 1 FETCH (UID 11 BODY[] {100}\r\n" + text, true},
        {false, "* 1 FETCH (UID 11 BODY[] {12}\r\n" + text + ")\r\n", false},
    };
    for (const auto& c : cases) {
        ImapPeer peer([&](Session& s) -> std::string {
            if (s.is("SELECT")) return "* 1 EXISTS\r\n" + s.ok();
            if (s.is("LIST") || s.is("FETCH 1 ")) {
                s.closing = c.closes;
                return c.answer + (c.closes ? "" : s.ok());
            }
            return s.standard();
        });
        ImapClient imap;
        ASSERT_EQ(open(imap, peer), 1);
        ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
        if (c.listing) {
            EXPECT_LT(imap.list_mailboxes("*", 0), 0) << c.answer;
            EXPECT_FALSE(imap.connected());
        } else {
            EXPECT_LT(imap.retrieve(1), 1) << c.answer;
            EXPECT_LE(imap.body_length, text.size());
        }
    }
}

TEST(ImapHostile, HugeMessageCountsCostOnlyWhatIsSent)
{
    {
        ImapPeer peer([](Session& s) -> std::string {
            return s.is("SELECT") ? "* 4294967296 EXISTS\r\n" + s.ok() : s.standard();
        });
        ImapClient imap;
        ASSERT_EQ(open(imap, peer), 1);
        ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
        EXPECT_EQ(imap.message_count, INT32_MAX);
        EXPECT_EQ(imap.fetch_sizes(1, 0), 1);
        EXPECT_EQ(peer.lines().back(), "3 FETCH 1:2147483647 (UID RFC822.SIZE)");
    }
    ImapPeer peer([](Session& s) -> std::string {
        if (s.is("SELECT")) return "* 2000000000 EXISTS\r\n" + s.ok();
        if (!s.is("FETCH 1:")) return s.standard();
        std::string chunk;
        for (int i = 0; i < 100000; ++i) {
            chunk += "* " + std::to_string(2000000000 - 7 * i) + " FETCH (UID " + std::to_string(i + 1) +
                     " RFC822.SIZE 5)\r\n";
            if (chunk.size() > 65536 && !s.send(chunk)) return "";
            if (chunk.size() > 65536) chunk.clear();
        }
        return chunk + s.ok();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    size_t before = resident_bytes();
    ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
    ASSERT_EQ(imap.fetch_sizes(1, 0), 1);
    EXPECT_LT(resident_bytes(), before + (size_t(64) << 20));
    EXPECT_EQ(imap.message_uid(2000000000 - 7 * 99999), 100000);
    EXPECT_EQ(imap.message_size(2000000000), 5);
    EXPECT_EQ(imap.message_size(1), 0);
    EXPECT_EQ(imap.body_length, 500000u);
}

// NUL bytes and broken lines of every kind: read past, the reply still
// ends at its tag; no name keeps a line end.
TEST(ImapHostile, NulBytesAndGarbageAreReadPast)
{
    const std::string garbage = std::string("* OK [UIDVALIDITY 7\0 8]\r\n* LIST () \"/\" \"A\0B\"\r\n* 3 FETCH (UID 5\0)\r\n", 59) +
                                "*\r\n* 3\r\n* 3 FETCH\r\n* 3 FETCH (UID\r\n* LIST (\r\n* LIST (\\X\r\n* SEARCH x y\r\n"
                                "* OK [UIDNEXT\r\n* CAPABILITY\r\n* ((((((((\r\n"
                                "* 99999999999999999999999 FETCH (UID 99999999999999999999 RFC822.SIZE 99999999999999999)\r\n"
                                "* LIST () \"/\" \"unterminated\r\n"
                                "* 2 FETCH (BODYSTRUCTURE ((\"TEXT\" \"PLAIN\" NIL (((( {3}\r\n)))\r\n"
                                "* 2 FETCH (UID 12 RFC822.SIZE 12 ))) garbage {x} (((\r\n";
    ImapPeer peer([&](Session& s) -> std::string {
        if (s.is("SELECT")) return "* 3 EXISTS\r\n" + s.ok();
        if (s.is("LIST")) return garbage + s.tag() + std::string(" OK\0 junk\r\n", 11);
        return s.standard();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
    EXPECT_EQ(imap.list_mailboxes("*", 0), 1);
    string name;
    while (imap.next_mailbox_name(name)) EXPECT_EQ(std::string(name.c_str()).find_first_of("\r\n"), npos) << name.c_str();
    EXPECT_EQ(imap.message_uid(2), 12);
    EXPECT_EQ(imap.message_count, 3);
    EXPECT_EQ(imap.create_mailbox("next"), 1);
}

// Lines that come after a message's literal do not change what the
// parser found; an answer without the message's text is no message.
TEST(ImapHostile, WhatFollowsTheMessageLeavesItAsParsed)
{
    ImapPeer peer([](Session& s) -> std::string {
        if (s.is("SELECT")) return "* 3 EXISTS\r\n" + s.ok();
        if (s.is("FETCH 1 ")) return fetched(1, 11, message(1)) + "* 1 FETCH (RFC822.SIZE 300000)\r\n" + s.ok();
        if (s.is("FETCH 2 ")) return "* 2 FETCH (UID 12 RFC822.SIZE 300000 BODY[] NIL)\r\n" + s.ok();
        if (s.is("FETCH 3 ")) return "* 3 FETCH (UID 13 RFC822.SIZE 300000 FLAGS (\\Seen))\r\n" + s.ok();
        return s.standard();
    });
    ImapClient imap;
    ASSERT_EQ(open(imap, peer), 1);
    ASSERT_EQ(imap.select_mailbox("INBOX", 0), 1);
    ASSERT_EQ(imap.retrieve(1), 1);
    EXPECT_EQ(imap.body_length, 8u);
    EXPECT_EQ(imap.retrieve(2), 1);
    EXPECT_EQ(imap.body_length, 0u);
    EXPECT_EQ(imap.retrieve(3), -1);
}

// Through the program: what the user sees.

TEST(ImapDriver, AclAndListingAsTheUserSeesThem)
{
    ImapPeer peer([](Session& s) -> std::string {
        if (s.is("CAPABILITY")) return "* CAPABILITY IMAP4rev1 ACL\r\n" + s.ok();
        if (s.is("GETACL")) return "* ACL INBOX u lrswipkxtecda bob lr\r\n" + s.ok();
        if (s.is("LISTRIGHTS")) return "* LISTRIGHTS INBOX bob lr a 0 1\r\n" + s.ok();
        if (s.is("MYRIGHTS")) return "* MYRIGHTS INBOX lrswi\r\n" + s.ok();
        if (s.is("LIST")) return "* LIST (\\HasNoChildren) \"/\" \"My Folder\"\r\n* LIST () \"/\" Sent\r\n" + s.ok();
        if (s.is("SELECT")) return "* 0 EXISTS\r\n" + s.ok();
        return s.standard();
    });
    CommandResult r = tavrin(peer, "-getacl -listrights:bob -myrights \"-list:*\"");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "u lrswipkxtecda\r\nbob lr\r\nlr a 0 1\r\nlrswi\r\nMy Folder\r\nSent\r\n") << r.out;
}

TEST(ImapDriver, TheMessageShownIsTheOneParsed)
{
    const struct {
        std::string after;  // the answer to the FETCH of message 1
        int status;
    } cases[] = {
        {fetched(1, 11, message(1)) + "* 1 FETCH (RFC822.SIZE 300000)\r\n", 0},
        {"* 1 FETCH (UID 11 FLAGS (\\Seen))\r\n", 1},
    };
    for (const auto& c : cases) {
        ImapPeer peer([&, box = mailbox({message(1)})](Session& s) mutable -> std::string {
            if (s.is("FETCH 1:1")) return "* 1 FETCH (UID 11 RFC822.SIZE 300000)\r\n" + s.ok();
            if (s.is("FETCH 1 ")) return c.after + s.ok();
            return box(s);
        });
        CommandResult r = tavrin(peer, "");
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_LT(r.out.size(), 4096u);
        if (c.status == 0) EXPECT_NE(r.out.find("body 1\n"), npos) << r.out.substr(0, 2000);
        else EXPECT_NE(r.err.find("Could not retrieve message (1/1), error= -1"), npos) << r.err;
    }
}

// After a search the messages are its results, handled by their UIDs:
// deleted, moved, fetched, filtered by their headers and described by their
// structure. A sort the server does not offer leaves the search to pick them.
TEST(ImapDriver, SearchResultsAreHandledByUid)
{
    const struct {
        const char* args;
        Lines uid_lines;
        const char* shows;  // a piece of the report
    } cases[] = {
        {"\"-search:FROM ann\" -rm", {"6 UID SEARCH FROM ann", "7 UID STORE 12 +FLAGS (\\Deleted)"},
         "Deleted message # 12\r\n"},
        {"-sort:DATE \"-search:FROM ann\" -rm", {"6 UID SEARCH FROM ann", "7 UID STORE 12 +FLAGS (\\Deleted)"},
         "Deleted message # 12\r\n"},
        {"\"-search:FROM ann\" -pat:m2 -rm",
         {"6 UID SEARCH FROM ann", "7 UID FETCH 12 (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER])",
          "8 UID FETCH 12 (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER])", "9 UID STORE 12 +FLAGS (\\Deleted)"},
         ""},
        {"\"-search:FROM ann\" -bs", {"6 UID SEARCH FROM ann", "7 UID FETCH 12 (UID BODYSTRUCTURE)"},
         "part:1,MIME=TEXT/PLAIN,"},
        {"-search:ALL -move:Archive",
         {"6 UID SEARCH ALL", "7 UID COPY 11 \"Archive\"", "8 UID STORE 11 +FLAGS (\\Deleted)",
          "9 UID FETCH 11 (UID RFC822.SIZE FLAGS BODY[])", "10 UID COPY 12 \"Archive\"",
          "11 UID STORE 12 +FLAGS (\\Deleted)", "12 UID FETCH 12 (UID RFC822.SIZE FLAGS BODY[])"},
         "2. m2\r\n"},
    };
    for (const auto& c : cases) {
        ImapPeer peer([box = mailbox({message(1), message(2)})](Session& s) mutable -> std::string {
            if (s.is("UID SEARCH FROM ann")) return "* SEARCH 12\r\n" + s.ok();
            return box(s);
        });
        CommandResult r = tavrin(peer, c.args);
        EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
        peer.join();
        EXPECT_EQ(peer.lines_with("UID"), c.uid_lines) << c.args;
        EXPECT_NE(r.out.find(c.shows), npos) << c.args << "\n" << r.out.substr(0, 2000);
        if (std::string(c.args).find("FROM ann") != npos) {
            EXPECT_EQ(r.out.find("m1\r\n"), npos) << c.args;
            EXPECT_EQ(r.out.find("TEXT/HTML"), npos) << c.args;
        }
    }
}

TEST(ImapDriver, SizesThatCannotBeHadEndTheRunWithAReason)
{
    ImapPeer peer([box = mailbox({message(1)})](Session& s) mutable -> std::string {
        return s.is("FETCH 1:1") ? s.no("sizes unavailable") : box(s);
    });
    CommandResult r = tavrin(peer, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'INBOX'"), npos) << r.err;
    EXPECT_NE(r.err.find("sizes unavailable"), npos) << r.err;
    peer.join();
    EXPECT_EQ(peer.lines().back(), "6 LOGOUT");
}

// "-idle:1" on an empty mailbox of a server without IDLE: the mailbox is
// selected again after each wait, and nothing else is sent; the run ends
// when the server goes.
TEST(ImapDriver, WithoutIdleTheMailboxIsSelectedAgain)
{
    ImapPeer peer([selects = 0](Session& s) mutable -> std::string {
        if (s.is("SELECT") && ++selects == 3) {
            s.closing = true;
            return "";
        }
        if (s.is("SELECT")) return "* 0 EXISTS\r\n" + s.ok();
        return s.standard();
    });
    CommandResult r = tavrin(peer, "-idle:1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not select mailbox: 'INBOX'"), npos) << r.err;
    peer.join();
    EXPECT_EQ(peer.lines(), (Lines{"1 CAPABILITY", "2 LOGIN \"u\" \"p\"", "3 CAPABILITY", "4 SELECT \"INBOX\"",
                                   "5 SELECT \"INBOX\"", "6 SELECT \"INBOX\""}));
}

TEST(ImapDriver, IdleEndsWithTheFirstMessageAndDone)
{
    ImapPeer peer([idle_tag = std::string(), box = mailbox({message(1)}, "IMAP4rev1 IDLE")](Session& s) mutable
                  -> std::string {
        if (s.is("SELECT") && idle_tag.empty()) return "* 0 EXISTS\r\n" + s.ok();
        if (s.is("IDLE")) {
            idle_tag = s.tag();
            return "+ idling\r\n* 0 EXISTS\r\n* 1 EXISTS\r\n";
        }
        if (s.line == "DONE") return idle_tag + " OK IDLE done\r\n";
        return box(s);
    });
    CommandResult r = tavrin(peer, "-idle:30");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1. m1\r\n"), npos) << r.out;
    peer.join();
    EXPECT_EQ(peer.lines(), (Lines{"1 CAPABILITY", "2 LOGIN \"u\" \"p\"", "3 CAPABILITY", "4 SELECT \"INBOX\"", "5 IDLE",
                                   "DONE", "6 SELECT \"INBOX\"", "7 FETCH 1:1 (UID RFC822.SIZE)",
                                   "8 FETCH 1 (UID RFC822.SIZE FLAGS BODY[])", "9 LOGOUT"}));
}

namespace {

// A mailbox of three messages "Subject: mN"; a FETCH of a range answers
// for the numbers in keep only (a server that leaves one out).
std::string range_answers(ImapPeer::Session& s, const std::string& keep)
{
    auto message = [](int n) {
        std::string text = "Subject: m" + std::to_string(n) + "\r\n\r\nbody\r\n";
        return "* " + std::to_string(n) + " FETCH (UID " + std::to_string(10 + n) + " FLAGS (\\Seen) BODY[] {" +
               std::to_string(text.size()) + "}\r\n" + text + ")\r\n";
    };
    if (s.is("SELECT")) return "* 3 EXISTS\r\n" + s.ok();
    if (s.is("FETCH 1:3 ")) {
        std::string all;
        for (char c : keep) all += message(c - '0');
        return all + s.ok();
    }
    if (s.is("FETCH ")) return message(std::stoi(s.command().substr(6))) + s.ok();  // one message
    return s.standard();
}

// Logged in, INBOX selected, messages 1 to 3 to be read in turn.
::testing::AssertionResult ready_for_range(ImapClient& c, const ImapPeer& peer)
{
    c.timeout = 10;
    if (c.open_connection("127.0.0.1", peer.port().c_str(), nullptr, 0) <= 0 || c.login("u", "p") != 1 ||
        c.select_mailbox("INBOX", 0) != 1)
        return ::testing::AssertionFailure() << c.reply;
    c.read_ahead_until = 3;
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(ImapRange, MessagesInTurnComeFromOneFetchAndAMissingOneOnItsOwn)
{
    for (const char* keep : {"123", "13"}) {
        ImapPeer peer([keep](ImapPeer::Session& s) { return range_answers(s, keep); });
        ImapClient c;
        ASSERT_TRUE(ready_for_range(c, peer));
        for (int n = 1; n <= 3; ++n) {
            ASSERT_EQ(c.retrieve(n), 1) << keep << " " << n;
            EXPECT_STREQ(c.subject_or_default().c_str(), ("m" + std::to_string(n)).c_str()) << keep;
            EXPECT_EQ(c.last_retrieved_number(), 10 + n) << keep;
        }
        c.disconnect();
        EXPECT_EQ(peer.lines_with("FETCH 1:3 ").size(), 1u) << keep;
        // The one left out is asked for on its own (and so is 3, read past
        // while the range was searched for 2).
        bool gap = std::string(keep) == "13";
        EXPECT_EQ(peer.lines_with("FETCH 2 (").size(), gap ? 1u : 0u) << keep;
        EXPECT_EQ(peer.lines_with("FETCH 3 (").size(), gap ? 1u : 0u) << keep;
    }
}

TEST(ImapRange, AnotherCommandReadsTheRestOfTheRangeFirst)
{
    ImapPeer peer([](ImapPeer::Session& s) { return range_answers(s, "123"); });
    ImapClient c;
    ASSERT_TRUE(ready_for_range(c, peer));
    ASSERT_EQ(c.retrieve(1), 1);
    // Messages 2 and 3 are still on their way: the STORE's answer is its own.
    EXPECT_EQ(c.delete_message(1), 1);
    EXPECT_EQ(c.retrieve(3), 1);
    EXPECT_STREQ(c.subject_or_default().c_str(), "m3");
}

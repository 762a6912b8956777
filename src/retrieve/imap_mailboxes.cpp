// The IMAP reader's mailbox operations: listing and subscribing, creating,
// renaming and deleting mailboxes, flags, copying and moving, and access
// control lists (RFC 4314). Every name, identifier and right goes out as
// a quoted string with its quotes and backslashes escaped.
#include <cinttypes>
#include <cstring>
#include <string>

#include "base/text_stream.h"
#include "platform/nocase.h"
#include "retrieve/imap_client.h"

namespace {

std::string q(const char* value) { return imap_quoted(value); }

// One token of an ACL answer at p (quoted, or up to white space), with the
// white space after it: p is left on what follows.
std::string next_token(const char*& p)
{
    std::string token;
    if (*p == '"') {
        for (++p; *p && *p != '"' && *p != '\r' && *p != '\n'; ++p) {
            if (*p == '\\' && p[1]) {
                token += *++p;
            } else if (*p == '&' && p[1] == '-') {
                token += '&';
                ++p;
            } else {
                token += *p;
            }
        }
        if (*p == '"') ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') token += *p++;
        if (*p == ' ' || *p == '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    if (!token.empty() && token.front() == '"') token.erase(0, 1);
    if (!token.empty() && token.back() == '"') token.pop_back();
    return token;
}

bool at_line_end(const char* p) { return !*p || *p == '\r' || *p == '\n'; }

}  // namespace

string acl_token(const char* text, string& rest)
{
    const char* p = text ? text : "";
    std::string token = next_token(p);
    rest = string(std::string(p).substr(0, 255).c_str());
    return string(token.c_str());
}

int ImapClient::delete_message(int n)
{
    int r = command("STORE %d +FLAGS (\\Deleted)\r\n", n);
    return r > 0 ? read_reply() : r;
}

int ImapClient::undelete_message(int n)
{
    int r = command("STORE %d -FLAGS (\\Deleted)\r\n", n);
    return r > 0 ? read_reply() : r;
}

int ImapClient::delete_uid(uint32_t uid)
{
    int r = command("UID STORE %" PRIu32 " +FLAGS (\\Deleted)\r\n", uid);
    return r > 0 ? read_reply() : r;
}

int ImapClient::undelete_uid(uint32_t uid)
{
    int r = command("UID STORE %" PRIu32 " -FLAGS (\\Deleted)\r\n", uid);
    return r > 0 ? read_reply() : r;
}

int ImapClient::list_mailboxes(const char* pattern, int subscribed)
{
    mailbox_names.clear();
    int r = command("%s \"\" %s\r\n", subscribed ? "LSUB" : "LIST", q(pattern && *pattern ? pattern : "*").c_str());
    return r > 0 ? read_reply() : r;
}

int ImapClient::next_mailbox_name(string& name)
{
    name = "";
    if (mailbox_names.take_first(name)) return 1;
    mailbox_names = listed_names;
    return 0;
}

int ImapClient::create_mailbox(const char* name)
{
    int r = command("CREATE %s\r\n", q(name).c_str());
    return r > 0 ? read_reply() : r;
}

int ImapClient::subscribe_mailbox(const char* name)
{
    int r = command("SUBSCRIBE %s\r\n", q(name).c_str());
    return r > 0 ? read_reply() : r;
}

int ImapClient::unsubscribe_mailbox(const char* name)
{
    int r = command("UNSUBSCRIBE %s\r\n", q(name).c_str());
    return r > 0 ? read_reply() : r;
}

int ImapClient::rename_mailbox(const char* from, const char* to)
{
    int r = command("RENAME %s %s\r\n", q(from).c_str(), q(to).c_str());
    return r > 0 ? read_reply() : r;
}

int ImapClient::delete_mailbox(const char* name)
{
    int r = command("DELETE %s\r\n", q(name).c_str());
    return r > 0 ? read_reply() : r;
}

int ImapClient::copy_message(int n, const char* mailbox, int delete_after)
{
    int r = command("COPY %d %s\r\n", n, q(mailbox).c_str());
    if (r > 0) r = read_reply();
    if (r <= 0 || !delete_after) return r;
    return delete_message(n);
}

int ImapClient::move_message(int n, const char* mailbox) { return copy_message(n, mailbox, 1); }

int ImapClient::copy_uid(uint32_t uid, const char* mailbox, int delete_after)
{
    int r = command("UID COPY %" PRIu32 " %s\r\n", uid, q(mailbox).c_str());
    if (r > 0) r = read_reply();
    if (r <= 0 || !delete_after) return r;
    return delete_uid(uid);
}

int ImapClient::move_uid(uint32_t uid, const char* mailbox) { return copy_uid(uid, mailbox, 1); }

int ImapClient::set_acl(const char* mailbox, const char* identifier, const char* rights)
{
    if (!has_acl) return 0;
    int r = command("SETACL %s %s %s\r\n", q(mailbox).c_str(), q(identifier).c_str(), q(rights).c_str());
    return r > 0 ? read_reply() : r;
}

int ImapClient::delete_acl(const char* mailbox, const char* identifier)
{
    if (!has_acl) return 0;
    int r = command("DELETEACL %s %s\r\n", q(mailbox).c_str(), q(identifier).c_str());
    return r > 0 ? read_reply() : r;
}

// The answer to GETACL, LISTRIGHTS or MYRIGHTS: every untagged line that
// begins with the answer's word goes to take (from the text after the
// word), then the tagged line decides. (The tagged line is never taken
// for data: its text after "OK" is not a right.)
int ImapClient::acl_answer(const char* keyword, const std::function<void(const char*)>& take)
{
    std::string prefix = std::string("* ") + keyword + " ";
    long long most = 1000000;
    for (long long lines = 0; lines < most; ++lines) {
        int r = read_response_line();
        if (r <= 0) {
            report_stream << "IMAP OK() didn't complete\r\n";
            return r;
        }
        std::string line = last_line();
        if (line[0] != '*') return final_status(line, false);
        if (nocase_compare_n(line.c_str(), prefix.c_str(), prefix.size()) == 0) take(line.c_str() + prefix.size());
    }
    close();
    return -1;
}

int ImapClient::get_acl(const char* mailbox, List<string>& identifiers, List<string>& rights)
{
    if (!has_acl) return 0;
    int r = command("GETACL %s\r\n", q(mailbox).c_str());
    if (r <= 0) return r;
    // "* ACL mailbox identifier rights identifier rights ..."
    // The whole line is walked (not a token's bounded rest), up to its end.
    return acl_answer("ACL", [&](const char* p) {
        next_token(p);
        for (int pairs = 0; !at_line_end(p) && pairs < 1000; ++pairs) {
            std::string identifier = next_token(p);
            std::string granted = next_token(p);
            identifiers.add(string(identifier.c_str()));
            rights.add(string(granted.c_str()));
        }
    });
}

int ImapClient::list_rights(const char* mailbox, const char* identifier, string& required, List<string>& optional)
{
    if (!has_acl) return 0;
    int r = command("LISTRIGHTS %s %s\r\n", q(mailbox).c_str(), q(identifier).c_str());
    if (r <= 0) return r;
    return acl_answer("LISTRIGHTS", [&](const char* p) {
        next_token(p);
        next_token(p);
        required = next_token(p).c_str();
        for (int groups = 0; groups < 1000; ++groups) {
            std::string group = next_token(p);
            if (group.empty()) break;
            optional.add(string(group.c_str()));
        }
    });
}

int ImapClient::my_rights(const char* mailbox, string& rights)
{
    if (!has_acl) return 0;
    int r = command("MYRIGHTS %s\r\n", q(mailbox).c_str());
    if (r <= 0) return r;
    return acl_answer("MYRIGHTS", [&](const char* p) {
        next_token(p);
        rights = next_token(p).c_str();
    });
}

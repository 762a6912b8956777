// The IMAP reader's connection and retrieval (RFC 3501): commands with
// their tags, the response reader, logging in, selecting, searching and
// sorting, fetching messages and parts, IDLE, CLOSE and LOGOUT.
#include "retrieve/imap_client.h"

#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/base64.h"
#include "base/digests.h"
#include "base/text_stream.h"
#include "platform/nocase.h"

namespace {

// The most bytes kept of one response line, and the most read past it.
constexpr size_t max_line = 1u << 20;
constexpr uint64_t max_skipped = 1u << 24;
// The most literals taken into one response line.
constexpr int max_literals = 1000;
// The most hops a referral may send the client on.
constexpr int max_referrals = 3;

// Base64 as one line, without a line end of its own.
std::string base64_line(const void* bytes, size_t count)
{
    std::string text = base64_encode(bytes, count);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool starts_nocase(const std::string& text, const char* prefix)
{
    return nocase_compare_n(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

size_t line_ends(const char* text)
{
    size_t n = 0;
    for (; *text; ++text) n += *text == '\r' || *text == '\n';
    return n;
}

// The literal announced at the end of a line ("... {123}" before its line
// end): true with its size.
bool literal_at_end(const std::string& line, uint64_t& size)
{
    size_t end = line.size();
    while (end && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
    if (end < 3 || line[end - 1] != '}') return false;
    size_t open = line.rfind('{', end - 1);
    if (open == std::string::npos || open + 2 > end - 1) return false;
    uint64_t n = 0;
    for (size_t i = open + 1; i < end - 1; ++i) {
        char c = line[i];
        if (c == '+' && i == end - 2) break;  // a non-synchronizing literal
        if (c < '0' || c > '9' || n > (UINT64_MAX - 9) / 10) return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    size = n;
    return true;
}

// Exactly size bytes into into: a read may bring fewer (over TLS, one
// record at a time). False when the connection failed or closed first.
bool read_whole(SimSock& socket, char* into, uint64_t size)
{
    while (size > 0) {
        int n = socket.read(into, size > INT32_MAX ? INT32_MAX : static_cast<int>(size));
        if (n <= 0) return false;
        into += n;
        size -= static_cast<uint64_t>(n);
    }
    return true;
}

// The line without its announced literal ("{123}" and the line end).
std::string before_literal(const std::string& line) { return line.substr(0, line.rfind('{')); }

// The number after the item word ("UID 12"), looked for as a word of the
// text; false when absent.
bool item_number(const std::string& text, const char* word, uint32_t& value)
{
    size_t n = std::strlen(word);
    for (size_t at = 0; (at = text.find(word, at)) != std::string::npos; at += n) {
        bool word_start = at == 0 || text[at - 1] == ' ' || text[at - 1] == '(';
        if (!word_start || at + n >= text.size() || text[at + n] != ' ') continue;
        unsigned long v = std::strtoul(text.c_str() + at + n + 1, nullptr, 10);
        value = v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
        return true;
    }
    return false;
}

// The text inside "FLAGS (...)", empty when absent.
std::string flags_of(const std::string& text)
{
    size_t at = text.find("FLAGS (");
    if (at == std::string::npos) return std::string();
    size_t from = at + 7, to = text.find_first_of(")\r\n", from);
    std::string flags = text.substr(from, to == std::string::npos ? std::string::npos : to - from);
    return flags.substr(0, 1023);
}

// Reads one IMAP string (quoted, with escapes; or an atom up to a blank or
// the line end; NIL as empty) at p, moving p past it. An unclosed quote
// ends at the line end.
std::string imap_string(const char*& p)
{
    while (*p == ' ') ++p;
    std::string value;
    if (*p == '"') {
        for (++p; *p && *p != '"' && *p != '\r' && *p != '\n'; ++p) {
            if (*p == '\\' && p[1] && p[1] != '\r' && p[1] != '\n') ++p;
            value += *p;
        }
        if (*p == '"') ++p;
        return value;
    }
    while (*p && *p != ' ' && *p != '\r' && *p != '\n') value += *p++;
    return nocase_compare(value.c_str(), "NIL") == 0 ? std::string() : value;
}

// A part name for BODY[...]: digits, dots and letters only.
bool part_name_is_safe(const char* part)
{
    if (!part) return false;
    for (const char* p = part; *p; ++p)
        if (!std::isalnum(static_cast<unsigned char>(*p)) && *p != '.') return false;
    return std::strlen(part) < 64;
}

}  // namespace

std::string imap_quoted(const char* value)
{
    std::string out = "\"";
    for (const char* p = value ? value : ""; *p; ++p) {
        if (*p == '"' || *p == '\\') out += '\\';
        out += *p;
    }
    return out + "\"";
}

ImapClient::~ImapClient()
{
    if (connected()) disconnect();
}

int ImapClient::send_line(const std::string& text)
{
    if (!connected()) return -1;
    echo(text.data(), text.size());
    return send(text.data(), text.size());
}

int ImapClient::command(const char* pattern, ...)
{
    if (!connected() || (range_next_ && drop_range() < 0)) return -1;
    std::vector<char> buffer(static_cast<size_t>(buffer_size() > 0 ? buffer_size() : 4096));
    va_list args;
    va_start(args, pattern);
    int n = std::vsnprintf(buffer.data(), buffer.size(), pattern, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= buffer.size()) {
        std::snprintf(reply, sizeof reply, "command longer than the buffer (%d bytes)", buffer_size());
        return -1;
    }
    // A value with a line end of its own would start a command of its own.
    if (line_ends(buffer.data()) != line_ends(pattern)) {
        std::snprintf(reply, sizeof reply, "a value in the command holds a line end");
        return -1;
    }
    // The tag counts the commands that go out, so a refused one takes none.
    return send_line(std::to_string(++tag) + " " + buffer.data());
}

// One physical line into the end of into, kept up to max_line bytes (the
// rest is read and dropped). 1, or the failed read's result.
int ImapClient::read_line_piece(std::string& into, bool& whole)
{
    char piece[8192];
    uint64_t dropped = 0;
    whole = true;
    for (;;) {
        int n = read_line(piece, sizeof piece - 1);
        if (n <= 0) return n < 0 ? n : -1;
        bool ends = piece[n - 1] == '\n';
        if (into.size() + static_cast<size_t>(n) <= max_line) {
            into.append(piece, static_cast<size_t>(n));
        } else {
            whole = false;
            if ((dropped += static_cast<uint64_t>(n)) > max_skipped) return -1;
            if (ends) into += "\r\n";
        }
        if (ends) return 1;
    }
}

int ImapClient::read_response_line(bool leave_literal)
{
    line_.clear();
    if (!connected()) return -1;
    bool whole;
    int r = read_line_piece(line_, whole);
    for (int literals = 0; r > 0; ++literals) {
        uint64_t size;
        if (!literal_at_end(line_, size)) break;
        // A message or a part: for the caller's parser.
        bool message_literal = leave_literal && line_.size() > 2 && line_[0] == '*' &&
                               line_.find(" FETCH ") != std::string::npos;
        if (message_literal) break;
        if (literals >= max_literals || size > max_skipped) {
            r = -1;
            break;
        }
        // Another literal (a name, a header field) becomes a quoted string
        // in the line, then the line goes on after it.
        std::string text(static_cast<size_t>(size), '\0');
        if (!read_whole(*this, &text[0], size)) {
            r = -1;
            break;
        }
        line_ = before_literal(line_) + imap_quoted(text.substr(0, max_line).c_str());
        r = read_line_piece(line_, whole);
    }
    if (r <= 0) {
        report_stream << "No response data: " << r << "\r\n";
        line_.clear();
        reply[0] = 0;
        close();
        return r;
    }
    std::snprintf(reply, sizeof reply, "%s", line_.substr(0, line_.find_first_of("\r\n")).c_str());
    if (trace_level) {
        echo(reply, std::strlen(reply));
        echo("\r\n", 2);
    }
    if (line_[0] == '*') untagged(line_);
    return 1;
}

void ImapClient::store_search_results(const char* numbers)
{
    const char* p = numbers;
    while (*p) {
        while (*p == ' ') ++p;
        if (!std::isdigit(static_cast<unsigned char>(*p))) break;
        char* end = nullptr;
        unsigned long v = std::strtoul(p, &end, 10);
        p = end;
        // Every result names a message: there cannot be more than there are.
        if (search_results_.size() < static_cast<size_t>(message_count))
            search_results_.push_back(static_cast<uint32_t>(v > UINT32_MAX ? UINT32_MAX : v));
    }
}

ImapClient::Entry* ImapClient::entry(uint32_t n, bool create)
{
    if (n < 1 || n > static_cast<uint32_t>(message_count)) return nullptr;
    if (n <= entries_.size()) return &entries_[n - 1];
    auto it = scattered_.find(n);
    if (n == entries_.size() + 1 && create) {
        // The dense part reaches a number that came early: it moves over.
        entries_.push_back(it != scattered_.end() ? it->second : Entry());
        if (it != scattered_.end()) scattered_.erase(it);
        return &entries_.back();
    }
    if (it != scattered_.end()) return &it->second;
    return create ? &scattered_[n] : nullptr;
}

void ImapClient::take_fetch_items(const std::string& line, uint32_t n)
{
    Entry* e = entry(n, true);
    if (!e) return;
    uint32_t value;
    // A line without the UID (a flag change) leaves the one known.
    if (item_number(line, "UID", value)) e->uid = value;
    if (item_number(line, "RFC822.SIZE", value)) {
        e->size = value;
        if (e->uid) uid_sizes_[e->uid] = value;
        // The sum of the sizes while they are asked for; otherwise
        // body_length is the length of the text the parser holds.
        if (summing_sizes_) body_length += value;
    }
}

void ImapClient::untagged(const std::string& line)
{
    const char* text = line.c_str();
    bool list = starts_nocase(line, "* LIST "), lsub = starts_nocase(line, "* LSUB ");
    if (list || lsub) {
        const char* p = text + 7;
        while (*p == ' ') ++p;
        std::string flags;
        if (*p == '(') {
            const char* close_at = std::strchr(p, ')');
            if (!close_at) return;
            flags.assign(p + 1, static_cast<size_t>(close_at - p - 1));
            p = close_at + 1;
        }
        imap_string(p);  // the hierarchy delimiter
        std::string name = imap_string(p);
        if (lsub && find_nocase(flags.c_str(), "\\Noselect")) return;
        mailbox_names.add(string(name.c_str()));
        listed_names.add(string(name.c_str()));
        return;
    }
    if (starts_nocase(line, "* CAPABILITY ")) {
        struct Flag {
            const char* word;
            int ImapClient::*flag;
        };
        static const Flag flags[] = {
            {" STARTTLS", &ImapClient::has_starttls},     {" IDLE", &ImapClient::has_idle},
            {" SORT", &ImapClient::has_sort},             {" ACL", &ImapClient::has_acl},
            {" USERLOGOUT", &ImapClient::has_userlogout}, {" AUTH=LOGIN", &ImapClient::has_auth_login},
            {" AUTH=PLAIN", &ImapClient::has_auth_plain}, {" AUTH=CRAM-MD5", &ImapClient::has_auth_cram_md5},
        };
        for (const Flag& f : flags)
            if (find_nocase(text, f.word)) this->*f.flag = 1;
        capabilities_known = 1;
        return;
    }
    if (starts_nocase(line, "* OK [ALERT]")) return;
    if (starts_nocase(line, "* OK ")) {
        struct Code {
            const char* word;
            uint32_t ImapClient::*value;
        };
        static const Code codes[] = {{"UIDVALIDITY", &ImapClient::uid_validity_},
                                     {"UIDNEXT", &ImapClient::uid_next_},
                                     {"UNSEEN", &ImapClient::first_unseen_}};
        for (const Code& c : codes)
            if (const char* at = find_nocase(text, c.word)) {
                unsigned long v = 0;
                if (std::sscanf(at, "%*s %lu", &v) == 1) this->*c.value = static_cast<uint32_t>(v);
            }
        return;
    }
    if (starts_nocase(line, "* SORT") || starts_nocase(line, "* SEARCH")) {
        const char* numbers = text + (starts_nocase(line, "* SORT") ? 6 : 8);
        return store_search_results(numbers);
    }
    unsigned long n = 0;
    char word[256] = "";
    if (std::sscanf(text, "* %lu %255s", &n, word) != 2) return;
    if (nocase_compare(word, "EXISTS") == 0 && (selecting || idling)) {
        message_count = n > INT32_MAX ? INT32_MAX : static_cast<int>(n);
        if (selecting) {
            entries_.clear();
            scattered_.clear();
            search_results_.clear();
            body_length = 0;
        }
    } else if (nocase_compare(word, "FETCH") == 0) {
        take_fetch_items(line, static_cast<uint32_t>(n > UINT32_MAX ? 0 : n));
    } else if (nocase_compare(word, "RECENT") == 0) {
        recent_count_ = static_cast<uint32_t>(n);
    }
}

int ImapClient::final_status(const std::string& line, bool with_line)
{
    unsigned long number = 0;
    char status[256] = "";
    std::sscanf(line.c_str(), "%lu %255s", &number, status);
    if (number == tag) return nocase_compare(status, "OK") == 0 ? 1 : -1;
    report_stream << "Sequence error, got: " << static_cast<long long>(number) << ", expected: "
                  << static_cast<long long>(tag);
    if (with_line) report_stream << " [" << reply << "]";
    report_stream << "\r\n";
    return -1;
}

int ImapClient::read_reply()
{
    // A reply may have a line for every message and more; not without end.
    long long most = static_cast<long long>(message_count) + 1000000;
    int r = 0;
    for (long long lines = 0; lines < most; ++lines) {
        r = read_response_line();
        if (r <= 0) break;
        if (line_[0] != '*') return final_status(line_, true);
    }
    if (r > 0) close();
    report_stream << "IMAP OK() didn't complete\r\n";
    return r > 0 ? -1 : r;
}

void ImapClient::clear_capabilities(bool with_auth)
{
    has_starttls = has_sort = has_acl = has_userlogout = has_idle = 0;
    if (with_auth) has_auth_login = has_auth_plain = has_auth_cram_md5 = 0;
    capabilities_known = 0;
}

void ImapClient::reset_mailbox_state()
{
    first_unseen_ = recent_count_ = 0;
    message_count = 0;
    body_length = 0;
    entries_.clear();
    scattered_.clear();
    uid_sizes_.clear();
    search_results_.clear();
}

// The server greets with a referral: the connection goes to the host it
// names (the port of the URL, else the one asked for), a few hops at most.
int ImapClient::referral_from_greeting(const string& port, const char* cert, int verify)
{
    const char* at = find_nocase(line_.c_str(), "[REFERRAL ");
    char host[256] = "";
    if (!at || std::sscanf(at, "[REFERRAL %*[^:]://%*[^@]@%255[^/]", host) != 1 || !host[0]) return 0;
    if (++referrals_ > max_referrals) {
        report_stream << "Too many referrals\r\n";
        close();
        return -1;
    }
    close();
    std::string h = host, p = port.c_str();
    size_t colon = h.find(':');
    if (colon != std::string::npos) {
        p = h.substr(colon + 1);
        h.resize(colon);
    }
    following_referral_ = true;
    int r = open_connection(string(h.c_str()), string(p.c_str()), cert, verify);
    following_referral_ = false;
    return r == 0 ? -1 : r;
}

int ImapClient::open_connection(const string& host, const string& port, const char* cert, int verify)
{
    if (connected()) disconnect();
    clear_capabilities(true);
    // A connection asked for anew starts a chain of referrals of its own.
    if (!following_referral_) referrals_ = 0;
    trace_level = debug_level;
    int r = ReadMail::open_connection(host, port, cert, verify);
    if (r <= 0) return r;
    reset_mailbox_state();
    idling = 0;
    tag = 0;
    range_next_ = range_last_ = 0;
    if ((r = read_response_line()) <= 0) return r;
    if (find_nocase(line_.c_str(), "[REFERRAL ")) {
        int hop = referral_from_greeting(port, cert, verify);
        if (hop != 0) return hop;
    }
    if (starts_nocase(line_, "* BYE")) {
        close();
        return -1;
    }
    logged_in = 0;
    if (!capabilities_known) {
        if ((r = command("CAPABILITY\r\n")) <= 0) return r;
        if ((r = read_reply()) < 0) {
            close();
            return r;
        }
    }
    if (use_starttls && has_starttls) {
        if ((r = command("STARTTLS\r\n")) <= 0) return r;
        if ((r = read_reply()) <= 0) return r;
        if (!start_tls(cert, verify)) {
            close();
            return -1;
        }
        // What the server said in clear text counts no more.
        clear_capabilities(true);
        if ((r = command("CAPABILITY\r\n")) <= 0) return r;
        r = read_reply();
    }
    return r;
}

int ImapClient::authenticate(const char* user_name, const char* secret)
{
    auto continuation = [this]() {
        if (read_response_line() < 1) return false;
        return true;
    };
    if (has_auth_cram_md5 && challenge_auth) {
        if (command("AUTHENTICATE CRAM-MD5\r\n") <= 0) return -1;
        if (!continuation()) return 0;
        if (line_[0] != '+') return final_status(line_, true);
        char challenge[256] = "";
        std::sscanf(line_.c_str(), "%*s %255[^\r\n]", challenge);
        std::string answer = cram_md5_response(challenge, user_name, secret).c_str();
        if (send_line(answer) <= 0) return -1;
    } else if (has_auth_plain) {
        if (command("AUTHENTICATE PLAIN\r\n") <= 0) return -1;
        if (!continuation()) return 0;
        if (line_[0] != '+') return final_status(line_, true);
        std::string plain = std::string(1, '\0') + user_name + std::string(1, '\0') + secret;
        if (send_line(base64_line(plain.data(), plain.size()) + "\r\n") <= 0) return -1;
    } else if (has_auth_login) {
        if (command("AUTHENTICATE LOGIN\r\n") <= 0) return -1;
        for (const char* value : {user_name, secret}) {
            if (!continuation()) return 0;
            if (line_[0] != '+') return final_status(line_, true);
            if (send_line(base64_line(value, std::strlen(value)) + "\r\n") <= 0) return -1;
        }
    } else {
        // One pair of enclosing quotes is taken off each value, and the
        // values are sent as quoted strings.
        auto bare = [](const char* v) {
            std::string s = v;
            if (!s.empty() && s.front() == '"') s.erase(0, 1);
            if (!s.empty() && s.back() == '"') s.pop_back();
            return imap_quoted(s.c_str());
        };
        int sent = command("LOGIN %s %s\r\n", bare(user_name).c_str(), bare(secret).c_str());
        if (sent <= 0) return -1;
    }
    return read_reply();
}

int ImapClient::login(const char* user_name, const char* secret)
{
    logged_in = 0;
    capabilities_known = 0;
    has_starttls = has_sort = has_acl = has_idle = has_userlogout = 0;
    if (!connected()) return -1;
    reset_mailbox_state();
    int r = authenticate(user_name, secret);
    if (const char* at = find_nocase(line_.c_str(), "[REFERRAL ")) {
        char ref_user[256] = "", host[256] = "";
        std::sscanf(at, "[REFERRAL %*[^:]://%255[^;@]", ref_user);
        std::sscanf(at, "[REFERRAL %*[^:]://%*[^@]@%255[^/]", host);
        if (host[0] && ++referrals_ <= max_referrals) {
            std::string h = host, p = "143";
            size_t colon = h.find(':');
            if (colon != std::string::npos) {
                p = h.substr(colon + 1);
                h.resize(colon);
            }
            disconnect();
            following_referral_ = true;
            int opened = open_connection(string(h.c_str()), string(p.c_str()), nullptr, 0);
            following_referral_ = false;
            if (opened < 0) return opened;
            return login(ref_user[0] ? ref_user : user_name, secret);
        }
    }
    if (r < 0) return r;
    if (!capabilities_known) {
        if ((r = command("CAPABILITY\r\n")) <= 0) return r;
        if ((r = read_reply()) < 0) {
            close();
            return r;
        }
    }
    logged_in = 1;
    logout_unneeded = 0;
    referrals_ = 0;
    user = user_name;
    password = secret;
    return 1;
}

int ImapClient::select_mailbox(const char* name, int examine)
{
    if (!connected()) return -1;
    reset_mailbox_state();
    uid_next_ = 0;
    search_done = 0;
    selecting = 1;
    int r = command("%s %s\r\n", examine ? "EXAMINE" : "SELECT", imap_quoted(name).c_str());
    if (r > 0) r = read_reply();
    selecting = 0;
    if (r < 0) return r;
    selected_mailbox = name ? name : "";
    return 1;
}

int ImapClient::open_mailbox(const char* name, int examine)
{
    int r = select_mailbox(name, examine);
    return r > 0 ? fetch_sizes(1, 0) : r;
}

int ImapClient::fetch_sizes(int first, int last)
{
    if (message_count == 0) return 0;
    if (!connected()) return -1;
    body_length = 0;
    int r = command("FETCH %d:%d (UID RFC822.SIZE)\r\n", first, last ? last : message_count);
    if (r <= 0) return r;
    summing_sizes_ = true;
    r = read_reply();
    summing_sizes_ = false;
    return r;
}

int ImapClient::message_size(int n)
{
    Entry* e = entry(static_cast<uint32_t>(n), false);
    return e ? static_cast<int>(e->size > INT32_MAX ? INT32_MAX : e->size) : 0;
}

int ImapClient::uid_size(uint32_t uid) const
{
    auto it = uid_sizes_.find(uid);
    return it == uid_sizes_.end() ? 0 : static_cast<int>(it->second > INT32_MAX ? INT32_MAX : it->second);
}

int ImapClient::message_uid(int n)
{
    Entry* e = entry(static_cast<uint32_t>(n), false);
    return e ? static_cast<int>(e->uid) : 0;
}

int ImapClient::result_uid(int i)
{
    if (i < 1 || i > message_count) return 0;
    if (!search_done) return message_uid(i);
    return static_cast<size_t>(i) <= search_results_.size() ? static_cast<int>(search_results_[i - 1]) : 0;
}

int ImapClient::sort_messages(const char* criteria, const char* key)
{
    if (!has_sort || search_done) return 0;
    if (!connected()) return -1;
    int r = command("UID SORT (%s) US-ASCII %s\r\n", criteria && *criteria ? criteria : "ARRIVAL",
                    key && *key ? key : "ALL");
    return r > 0 ? search_answer() : r;
}

int ImapClient::search_messages(const char* key)
{
    if (search_done) return 0;
    if (!connected()) return -1;
    int r = command("UID SEARCH %s\r\n", key && *key ? key : "ALL");
    return r > 0 ? search_answer() : r;
}

// The results of a SEARCH or SORT (at most as many as there are messages)
// become the messages of the run.
int ImapClient::search_answer()
{
    search_results_.clear();
    int r = read_reply();
    message_count = r < 0 ? 0 : static_cast<int>(search_results_.size());
    if (r < 0) return r;
    search_done = 1;
    return 1;
}

int ImapClient::skip_bytes(uint64_t count)
{
    char block[65536];
    while (count) {
        int want = count < sizeof block ? static_cast<int>(count) : static_cast<int>(sizeof block);
        int got = read(block, want);
        if (got <= 0) return -1;
        count -= static_cast<uint64_t>(got);
    }
    return 1;
}

// The line in hand ends with a literal nobody wants: it is read past (as
// much as the server sends), and so is the rest of the answer it belongs
// to. 1, or -1 (closed).
int ImapClient::skip_literals()
{
    uint64_t size;
    for (int literals = 0; literal_at_end(line_, size); ++literals) {
        std::string rest;
        bool whole;
        if (literals >= max_literals || skip_bytes(size) < 0 || read_line_piece(rest, whole) <= 0) {
            close();
            return -1;
        }
        line_ = rest;
    }
    return 1;
}

// Reads the answer to a FETCH up to the line for the wanted message (by
// number, or by UID): 1 with that line, else -1 (or the failed read's
// result). Answers for other messages (a flag change the server reports
// by the way) are read past, their literals too.
int ImapClient::fetch_answer(bool by_uid, uint32_t wanted, bool leave_literal, const char* item, std::string& line)
{
    long long got_other = -1;
    for (long long lines = 0; lines < static_cast<long long>(message_count) + 100000; ++lines) {
        int r = read_response_line(leave_literal);
        if (r <= 0) {
            if (by_uid) report_stream << "No response: " << r << "\r\n";
            return r;
        }
        if (line_[0] != '*') {
            // Completed without the message.
            if (got_other >= 0)
                report_stream << "Message nbr missmatch: got = " << got_other << ", expected = "
                              << static_cast<long long>(wanted) << "\r\n";
            final_status(line_, true);
            return -1;
        }
        unsigned long n = 0;
        char word[1024] = "";
        if (std::sscanf(line_.c_str(), "* %lu %1023s", &n, word) != 2 || nocase_compare(word, "FETCH") != 0) continue;
        uint32_t uid = 0;
        bool has_uid = item_number(line_, "UID", uid);
        uint64_t literal;
        // By UID: the answer names it, or (when its UID comes after the
        // message) it is the one that carries a message.
        bool same = by_uid ? (has_uid ? uid == wanted : literal_at_end(line_, literal)) : n == wanted;
        // Ours is the line with the item asked for; one for the same
        // message without it (a flag change reported by the way) is read
        // past like the others.
        bool ours = same && find_nocase(line_.c_str(), item);
        if (!ours) {
            if (!same) got_other = by_uid ? uid : static_cast<long long>(n);
            if (skip_literals() < 0) return -1;  // its own literal, with the rest of its answer
            continue;
        }
        line = line_;
        return 1;
    }
    close();
    return -1;
}

// The literal at the end of line, to the parser. 1, or what failed.
int ImapClient::read_literal_message(const std::string& line, int start_in_body, const char* failure_note)
{
    uint64_t size = 0;
    literal_at_end(line, size);
    if (size > UINT32_MAX) {
        close();
        return -1;
    }
    int r = parse(static_cast<uint32_t>(size), start_in_body);
    if (r <= 0) {
        if (failure_note) report_stream << failure_note << r << "\r\n";
        return r;
    }
    // The rest of the answer: ")" and maybe more items.
    if ((r = read_response_line()) <= 0) {
        report_stream << "Premature end of Retrieve() operation: " << r << "\r\n";
        return r;
    }
    return 1;
}

// A FETCH of a message (whole or its header) or of one part, by number or
// by UID: the answer's literal goes to the parser. The caller has sent the
// command.
int ImapClient::fetched(bool by_uid, uint32_t wanted, int start_in_body, const char* encoding)
{
    std::string line;
    int r = fetch_answer(by_uid, wanted, true, "BODY[", line);
    if (r <= 0) return r;
    uint32_t value = 0;
    last_uid = item_number(line, "UID", value) ? value : 0;
    if (!start_in_body) last_flags = flags_of(line).c_str();
    uint64_t size;
    if (literal_at_end(line, size)) {
        preset_decoding(encoding);
        r = read_literal_message(line, start_in_body, by_uid && !start_in_body ? "Parse failed: " : nullptr);
        preset_base64 = preset_qp = 0;
        if (r <= 0) return r;
        // The rest of the answer may name what the first line did not.
        if (last_flags.empty()) last_flags = flags_of(line_).c_str();
        if (!last_uid && item_number(line_, "UID", value)) last_uid = value;
    } else {
        clear_results();
        body_length = 0;
    }
    if (by_uid && last_uid && last_uid != wanted) {
        report_stream << "Message nbr missmatch: got = " << static_cast<long long>(last_uid)
                      << ", expected = " << static_cast<long long>(wanted) << "\r\n";
        read_reply();
        return -1;
    }
    return read_reply();
}

// The parser's decoding for a part sent as it is stored.
void ImapClient::preset_decoding(const char* encoding)
{
    preset_base64 = encoding && nocase_compare(encoding, "base64") == 0;
    preset_qp = encoding && nocase_compare(encoding, "quoted-printable") == 0;
}

// The rest of an open FETCH of a range, read to its tagged line and
// dropped: another command is about to go out.
int ImapClient::drop_range()
{
    range_next_ = range_last_ = 0;
    for (long long lines = 0; lines < static_cast<long long>(message_count) + 100000; ++lines) {
        if (read_response_line(true) <= 0) return -1;
        if (line_[0] != '*') {
            final_status(line_, true);
            return 1;
        }
        if (skip_literals() < 0) return -1;
    }
    close();
    return -1;
}

// Message n out of the open FETCH of a range: its answer is the next one
// that carries a message. Should the range end without it, n is fetched
// on its own.
int ImapClient::retrieve_in_range(int n)
{
    for (long long lines = 0; lines < static_cast<long long>(message_count) + 100000; ++lines) {
        int r = read_response_line(true);
        if (r <= 0) {
            range_next_ = range_last_ = 0;
            return r;
        }
        if (line_[0] != '*') {
            range_next_ = range_last_ = 0;
            final_status(line_, true);
            r = command("FETCH %d (UID RFC822.SIZE FLAGS BODY[])\r\n", n);
            return r > 0 ? fetched(false, static_cast<uint32_t>(n), 0, nullptr) : r;
        }
        unsigned long m = 0;
        char word[16] = "";
        uint64_t size;
        if (std::sscanf(line_.c_str(), "* %lu %15s", &m, word) != 2 || nocase_compare(word, "FETCH") != 0 ||
            !literal_at_end(line_, size))
            continue;  // acted on as it was read
        if (m != static_cast<unsigned long>(n)) {
            if (skip_literals() < 0) return -1;
            continue;
        }
        std::string line = line_;
        uint32_t value = 0;
        last_uid = item_number(line, "UID", value) ? value : 0;
        last_flags = flags_of(line).c_str();
        if ((r = read_literal_message(line, 0, nullptr)) <= 0) {
            range_next_ = range_last_ = 0;
            return r;
        }
        if (last_flags.empty()) last_flags = flags_of(line_).c_str();
        if (!last_uid && item_number(line_, "UID", value)) last_uid = value;
        if (n >= range_last_) {
            range_next_ = range_last_ = 0;
            return read_reply();
        }
        range_next_ = n + 1;
        return 1;
    }
    close();
    return -1;
}

int ImapClient::retrieve(int n)
{
    if (n < 1 || n > message_count || !connected()) return -1;
    last_retrieved = n;
    if (range_next_ && range_next_ != n && drop_range() < 0) return -1;
    // Messages wanted one after the other: one FETCH for all of them, each
    // read from it in turn, so no message waits for a round trip.
    int last = read_ahead_until < message_count ? read_ahead_until : message_count;
    if (!range_next_ && retrieve_mode == 0 && last > n) {
        int r = command("FETCH %d:%d (UID RFC822.SIZE FLAGS BODY[])\r\n", n, last);
        if (r <= 0) return r;
        range_next_ = n;
        range_last_ = last;
    }
    if (range_next_ == n) return retrieve_in_range(n);
    int r = command("FETCH %d (UID RFC822.SIZE FLAGS BODY%s[%s])\r\n", n, retrieve_mode ? ".PEEK" : "",
                    retrieve_mode == 1 ? "HEADER" : "");
    if (r <= 0) return r;
    return fetched(false, static_cast<uint32_t>(n), 0, nullptr);
}

int ImapClient::retrieve_uid(uint32_t uid)
{
    if (!connected()) return -1;
    int r = command("UID FETCH %" PRIu32 " (UID RFC822.SIZE FLAGS BODY%s[%s])\r\n", uid, retrieve_mode ? ".PEEK" : "",
                    retrieve_mode == 1 ? "HEADER" : "");
    if (r <= 0) return r;
    last_retrieved = static_cast<int>(uid);
    return fetched(true, uid, 0, nullptr);
}

int ImapClient::retrieve_headers_uid(uint32_t uid)
{
    return headers_only([this, uid] { return retrieve_uid(uid); });
}

// One part: "BODY[part]" or its piece "<offset.length>", after "FETCH n"
// or "UID FETCH uid".
int ImapClient::part_fetch(bool by_uid, uint32_t id, const char* part, const char* encoding, uint32_t offset,
                           uint32_t length)
{
    hdr_content_type = "application/octet-stream";
    last_retrieved = static_cast<int>(id);
    if ((!by_uid && (id < 1 || id > static_cast<uint32_t>(message_count))) || !connected()) return -1;
    if (!part_name_is_safe(part)) {
        report_stream << "Not a part name: '" << (part ? part : "") << "'\r\n";
        return -1;
    }
    char piece[48] = "";
    if (length) std::snprintf(piece, sizeof piece, "<%" PRIu32 ".%" PRIu32 ">", offset, length);
    int r = command("%s %" PRIu32 " (UID BODY[%s]%s)\r\n", by_uid ? "UID FETCH" : "FETCH", id, part, piece);
    if (r <= 0) return r;
    return fetched(by_uid, id, 1, encoding);
}

int ImapClient::fetch_part(int n, const char* part, const char* encoding, uint32_t offset, uint32_t length)
{
    return part_fetch(false, n < 1 ? 0 : static_cast<uint32_t>(n), part, encoding, offset, length);
}

int ImapClient::fetch_part_uid(uint32_t uid, const char* part, const char* encoding, uint32_t offset,
                               uint32_t length)
{
    return part_fetch(true, uid, part, encoding, offset, length);
}

int ImapClient::fetch_structure(int n)
{
    if (n < 1 || n > message_count || !connected()) return -1;
    return structure_fetch(false, static_cast<uint32_t>(n));
}

int ImapClient::fetch_structure_uid(uint32_t uid)
{
    if (!connected()) return -1;
    return structure_fetch(true, uid);
}

// The body structure after "FETCH n" or "UID FETCH uid".
int ImapClient::structure_fetch(bool by_uid, uint32_t id)
{
    int r = command("%s %" PRIu32 " (UID BODYSTRUCTURE)\r\n", by_uid ? "UID FETCH" : "FETCH", id);
    if (r <= 0) return r;
    std::string line;
    if ((r = fetch_answer(by_uid, id, false, "BODYSTRUCTURE", line)) <= 0) return r;
    uint32_t value = 0;
    last_uid = item_number(line, "UID", value) ? value : 0;
    last_flags = flags_of(line).c_str();
    structure_text = structure_text_of(line.c_str());
    parse_structure(structure_text.c_str(), parts);
    return read_reply();
}

int ImapClient::start_idle()
{
    if (!has_idle) return 0;
    if (!connected()) return -1;
    int r = command("IDLE\r\n");
    if (r <= 0) return r;
    if ((r = read_response_line()) <= 0) return r;
    if (line_[0] != '+') return 0;
    idling = 1;
    return 1;
}

int ImapClient::idle_wait(int seconds)
{
    if (!idling) return 0;
    for (int left = seconds; left > 0; --left) {
        if (!connected()) return -1;
        if (wait_readable(1, 0) <= 0) continue;
        int r = read_response_line();
        if (r <= 0) return r;
        if (line_[0] != '*' && line_[0] != '+') {
            // The IDLE's completion: the server ended it, and no DONE is due.
            idling = 0;
            final_status(line_, true);
            return -1;
        }
        return left;
    }
    return 0;
}

int ImapClient::end_idle()
{
    bool was_idling = idling != 0;
    idling = 0;
    if (!connected()) return -1;
    if (!was_idling) return 0;
    // DONE ends the IDLE command, whose completion follows.
    if (send_line("DONE\r\n") <= 0) return -1;
    return read_reply();
}

int ImapClient::close_mailbox()
{
    if (!connected()) return -1;
    int r = command("CLOSE\r\n");
    selected_mailbox.clear();
    logged_in = 0;
    return r > 0 ? read_reply() : r;
}

int ImapClient::logout(bool use_userlogout)
{
    logged_in = 0;
    if (!connected()) return -1;
    if (idling) end_idle();
    bool closing = purge != 0;
    int r = closing ? command("CLOSE\r\n") : 1;
    if (logout_unneeded) return closing && r > 0 ? read_reply() : r;
    if (closing && r > 0) read_reply();
    r = command(use_userlogout && has_userlogout ? "USERLOGOUT\r\n" : "LOGOUT\r\n");
    return r > 0 ? read_reply() : r;
}

int ImapClient::disconnect()
{
    if (connected()) logout(false);
    entries_.clear();
    scattered_.clear();
    search_results_.clear();
    return ReadMail::disconnect();
}

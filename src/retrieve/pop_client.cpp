// The POP3 reader: one mailbox on a server, read with the commands of
// RFC 1939 (and STLS of RFC 2595). Deletions take effect when the server
// accepts QUIT.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/digests.h"
#include "retrieve/read_mail.h"

namespace {

// The greeting's time stamp, brackets included: the text from the first
// '<' to the '>' after it (at most 255 characters between them). A '<'
// without its '>' is no time stamp.
string timestamp_of(const char* greeting)
{
    const char* open = std::strchr(greeting, '<');
    if (!open) return string();
    const char* close = std::strchr(open + 1, '>');
    if (!close || close - open - 1 > 255 || close == open + 1) return string();
    return string(open, static_cast<size_t>(close - open + 1));
}

// A decimal number at text (blanks before it are skipped); text moves past
// it. A number too large for a long long is no number: a conversion that
// cut it would turn "4294967297" into some other message's number.
bool read_number(const char*& text, long long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE) return false;
    text = end;
    return true;
}

}  // namespace

PopClient::~PopClient()
{
    if (connected()) disconnect();
}

int PopClient::read_reply()
{
    int n = read_reply_line(reply_limit + 1);
    if (n < 1) return n;
    return reply[0] == '-' ? -1 : reply[0] == '+' ? 1 : 0;
}

int PopClient::quit()
{
    set_timeout(30);
    if (!connected() || drop_read_ahead() < 0) return -1;
    int r = send_command("QUIT\r\n");
    if (r <= 0) return r;
    return read_reply();
}

int PopClient::disconnect()
{
    if (connected()) quit();
    message_sizes_.clear();
    message_sizes_.shrink_to_fit();
    return ReadMail::disconnect();
}

// The lines of a CAPA answer up to its "." line; STLS among them is noted.
// A list of more than max_reply_lines lines is refused.
int PopClient::read_capabilities()
{
    for (int lines = 0; lines < max_reply_lines; ++lines) {
        int n = read_reply_line(reply_limit + 1);
        if (n < 1) return n;
        if (reply[0] == '.') {
            capabilities_read_ = 1;
            return n;
        }
        if (reply[0] == '+') continue;
        if (std::strncmp(reply, "STLS", 4) == 0) stls_offered = 1;
        if (std::strncmp(reply, "PIPELINING", 10) == 0) pipelining = 1;
    }
    close();
    return -1;
}

int PopClient::open_connection(const string& host, const string& port, const char* cert, int verify)
{
    if (connected()) disconnect();
    trace_level = debug_level;
    apop_timestamp.clear();
    stls_offered = pipelining = capabilities_read_ = ahead_first_ = ahead_last_ = 0;
    int r = ReadMail::open_connection(host, port, cert, verify);
    if (r <= 0) return r;
    r = read_reply();
    if (r < 0) return r;
    if (!firewall_line.empty()) {
        // The firewall may say things of its own before the server greets.
        for (int lines = 0; r == 0 && lines < max_reply_lines; ++lines)
            if ((r = read_reply()) < 0) return r;
        if (r == 0) {
            close();
            return -1;
        }
    }
    apop_timestamp = timestamp_of(reply);
    if (!use_starttls) return r;

    if ((r = send_command("CAPA\r\n")) <= 0) return r;
    if (read_reply() <= 0) return connected() ? 1 : -1;  // no CAPA: the connection goes on in clear text
    if ((r = read_capabilities()) < 1) return r;
    if (!use_starttls || !stls_offered) return r;

    if ((r = send_command("STLS\r\n")) <= 0) return r;
    if ((r = read_reply()) <= 0) return r;
    if (!start_tls(cert, verify)) {
        close();
        return -1;
    }
    stls_offered = pipelining = capabilities_read_ = 0;  // what was said in clear text counts no more
    if ((r = send_command("CAPA\r\n")) <= 0) return r;
    if (read_reply() <= 0) return connected() ? 1 : -1;
    return read_capabilities();
}

int PopClient::login(const char* user, const char* password)
{
    if (!connected()) return -1;
    int r = 0;
    bool in = false;
    if (!apop_timestamp.empty() && challenge_auth) {
        char digest[33];
        apop_digest((std::string(apop_timestamp.c_str()) + password).c_str(), digest);
        if ((r = send_command("APOP %s %s\r\n", user, digest)) <= 0) return r;
        in = read_reply() > 0;
        if (!connected()) return -1;
    }
    if (!in) {
        // Refused APOP, or none offered: USER and PASS on the same connection.
        if ((r = send_command("USER %s\r\n", user)) <= 0) return r;
        if ((r = read_reply()) <= 0) return r;
        if ((r = send_command("PASS %s\r\n", password)) <= 0) return r;
        if ((r = read_reply()) <= 0) return r;
    }
    logged_in = 1;
    message_count = 0;
    body_length = 0;
    message_sizes_.clear();
    if ((r = send_command("STAT\r\n")) <= 0) return r;
    if ((r = read_reply()) > 0) {
        // "+OK count size": a count that is not a number of messages counts none.
        const char* p = reply + std::strcspn(reply, " \t\r\n");
        long long count = 0;
        if (read_number(p, count) && count > 0 && count <= INT32_MAX) message_count = static_cast<int>(count);
    }
    if (r <= 0 || message_count == 0) return r;
    if ((r = send_command("LIST\r\n")) <= 0) return r;
    if ((r = read_reply()) <= 0) return r;
    if ((r = read_sizes()) <= 0) return r;
    // Whether messages may be asked for ahead: only worth a question when
    // there are several to read in turn.
    if (read_ahead_until > 1 && message_count > 1 && !capabilities_read_) {
        int asked = send_command("CAPA\r\n");
        if (asked <= 0) return asked;
        if (read_reply() > 0 && read_capabilities() <= 0) return -1;
        if (!connected()) return -1;
    }
    return r;
}

// The lines of a LIST answer up to its "." line. Every size counts in the
// total (which stops at the largest the summary can show); only a number
// in 1 to message_count is kept. A server may send a line for each message
// and some more, not an endless list.
int PopClient::read_sizes()
{
    long long most_lines = static_cast<long long>(message_count) + max_reply_lines;
    sizes_sorted_ = true;
    for (long long lines = 0; lines < most_lines; ++lines) {
        int n = read_reply_line(reply_limit + 1);
        if (n < 1) return n;
        if (reply[0] == '.') {
            if (!sizes_sorted_)
                std::stable_sort(message_sizes_.begin(), message_sizes_.end(),
                                 [](const Size& a, const Size& b) { return a.number < b.number; });
            return n;
        }
        if (reply[0] == '+') continue;
        const char* p = reply;
        long long number = 0, size = 0;
        if (!read_number(p, number) || !read_number(p, size) || size < 0) continue;
        uint64_t room = static_cast<uint64_t>(INT64_MAX) - body_length;
        body_length += static_cast<uint64_t>(size) < room ? static_cast<uint64_t>(size) : room;
        if (number < 1 || number > message_count) continue;
        int kept = static_cast<int>(number);
        if (!message_sizes_.empty() && message_sizes_.back().number >= kept) sizes_sorted_ = false;
        message_sizes_.push_back({kept, static_cast<int32_t>(size > INT32_MAX ? INT32_MAX : size)});
    }
    close();
    return -1;
}

int PopClient::message_size(int n)
{
    if (n < 1 || n > message_count) return 0;
    size_t at = static_cast<size_t>(n - 1);
    if (at < message_sizes_.size() && message_sizes_[at].number == n &&
        (at + 1 == message_sizes_.size() || message_sizes_[at + 1].number != n))
        return message_sizes_[at].size;
    // The last line LIST gave for n, when it gave one.
    auto after = std::upper_bound(message_sizes_.begin(), message_sizes_.end(), n,
                                  [](int number, const Size& s) { return number < s.number; });
    if (after == message_sizes_.begin() || (after - 1)->number != n) return 0;
    return (after - 1)->size;
}

int PopClient::delete_message(int n)
{
    if (n < 1 || n > message_count || !connected() || drop_read_ahead() < 0) return -1;
    int r = send_command("DELE %d\r\n", n);
    if (r <= 0) return r;
    return read_reply();
}

int PopClient::retrieve(int n)
{
    if (n < 1 || n > message_count || !connected()) return -1;
    bool asked = ahead_first_ == n && retrieve_mode != 1;
    if (!asked && drop_read_ahead() < 0) return -1;
    int last = n;
    if (pipelining && retrieve_mode != 1) {
        int until = read_ahead_until < message_count ? read_ahead_until : message_count;
        last = until - n > ahead_window ? n + ahead_window : until > n ? until : n;
    }
    // The commands not sent yet, in one write.
    std::string commands;
    char command[48];
    for (long long m = asked ? ahead_last_ + 1LL : n; m <= last; ++m) {  // wide: n may be INT_MAX
        bool top = m == n && retrieve_mode == 1;
        std::snprintf(command, sizeof command, top ? "TOP %lld 1\r\n" : "RETR %lld\r\n", m);
        commands += command;
    }
    ahead_first_ = last > n ? n + 1 : 0;
    ahead_last_ = last > n ? last : 0;
    int r = 1;
    if (!commands.empty()) {
        echo(commands.data(), commands.size());
        r = send(commands.data(), commands.size());
    }
    if (r <= 0) return r;
    if ((r = read_reply()) <= 0) return r;
    r = parse(static_cast<uint32_t>(message_size(n)), 0);
    last_retrieved = n;
    return r;
}

int PopClient::drop_read_ahead()
{
    int first = ahead_first_, last = ahead_last_;
    ahead_first_ = ahead_last_ = 0;
    for (int m = first; m && m <= last; ++m)
        if (drop_message() < 0) return -1;
    return 1;
}

// One answer to a RETR: its reply line and, after "+OK", the message up
// to its "." line, however its lines are cut.
int PopClient::drop_message()
{
    int r = read_reply();
    if (r < 0 || !connected()) return -1;
    if (r == 0) return 1;
    char piece[reply_size];
    bool line_start = true;
    for (uint64_t dropped = 0; dropped <= max_dropped_message;) {
        int m = read_line(piece, sizeof piece - 1);
        if (m <= 0) break;
        dropped += static_cast<uint64_t>(m);
        bool ends = piece[m - 1] == '\n';
        if (line_start && ends && piece[0] == '.' && (m == 2 || (m == 3 && piece[1] == '\r'))) return 1;
        line_start = ends;
    }
    close();
    return -1;
}

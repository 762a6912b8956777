#include "send/smtp_client.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "base/base64.h"
#include "base/digests.h"
#include "base/heap_text.h"
#include "base/line_reader.h"
#include "base/text_stream.h"
#include "net/dns.h"

namespace {

// Blanks and tabs (a folded header line keeps its tab) around an address.
std::string trim_blanks(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool starts_with(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

bool positive(int r) { return r > 0; }

// Transactions that place no recipient would repeat for ever: the limit on
// them ends such a send.
constexpr int max_empty_transactions = 1;

}  // namespace

std::string reduce_address(const char* text)
{
    if (!text) return "";
    if (const char* open = std::strchr(text, '<')) {
        const char* close = std::strchr(open + 1, '>');
        size_t n = close ? static_cast<size_t>(close - open - 1) : std::strlen(open + 1);
        return std::string(open + 1, n < 1023 ? n : 1023);
    }
    if (const char* paren = std::strchr(text, '(')) return trim_blanks(std::string(text, static_cast<size_t>(paren - text)));
    std::string whole = trim_blanks(text);
    return whole.substr(0, 1023);
}

std::vector<std::string> rcpt_entries(const char* text)
{
    std::vector<std::string> entries;
    const char* p = text ? text : "";
    while (*p) {
        while (*p == ' ') ++p;
        const char* scan = p;
        if (*scan == '"') {
            const char* q = std::strchr(scan + 1, '"');
            scan = q ? q + 1 : scan + std::strlen(scan);
        }
        const char* comma = std::strchr(scan, ',');
        const char* paren = std::strchr(scan, '(');
        if (paren && (!comma || paren < comma)) {
            const char* close = std::strchr(paren, ')');
            comma = close ? std::strchr(close, ',') : nullptr;  // an open comment takes the rest
        }
        const char* end = comma ? comma : p + std::strlen(p);
        std::string entry(p, static_cast<size_t>(end - p));
        if (!entry.empty() && entry[0] != '!' && entry[0] != '\\') entries.push_back(entry);
        p = comma ? comma + 1 : end;
    }
    return entries;
}

void write_progress_file(const string& path, int percent, long& last_write, bool always)
{
    if (path.empty()) return;
    long now = static_cast<long>(time(nullptr));
    if (now == last_write && !(always && percent == 100)) return;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fprintf(f, "%d\r\n", percent);
        std::fclose(f);
    }
    last_write = now;
}

SmtpClient::~SmtpClient() { free_texts(extra_recipients); }

const char* SmtpClient::greeting_name()
{
    if (!greeting.empty()) return greeting.c_str();
    // The machine's own name does not change while the process runs.
    static std::string name;
    if (!name.empty()) return name.c_str();
    name = local_address_name(*this).c_str();
    if (name.find('.') == std::string::npos) {
        string primary, secondary, domain;
        find_dns_config(primary, secondary, domain);
        if (!domain.empty() && domain != "unknown") name += std::string(".") + domain.c_str();
    }
    return name.c_str();
}

void SmtpClient::clear_capabilities()
{
    cap_etrn = cap_dsn = cap_onex = cap_8bitmime = cap_chunking = cap_starttls = 0;
    cap_auth_login = cap_auth_plain = cap_auth_cram = 0;
}

void SmtpClient::parse_capability(const char* line)
{
    if (!starts_with(line, "250") || std::strlen(line) < 5) return;
    const char* text = line + 4;
    struct Capability {
        const char* name;
        int SmtpClient::*flag;
    };
    static const Capability capabilities[] = {
        {"ETRN", &SmtpClient::cap_etrn},         {"DSN", &SmtpClient::cap_dsn},
        {"ONEX", &SmtpClient::cap_onex},         {"8BITMIME", &SmtpClient::cap_8bitmime},
        {"CHUNKING", &SmtpClient::cap_chunking}, {"STARTTLS", &SmtpClient::cap_starttls},
    };
    for (const Capability& c : capabilities)
        if (starts_with(text, c.name)) this->*c.flag = 1;
    if (starts_with(text, "AUTH")) {
        if (std::strstr(line, "LOGIN")) cap_auth_login = 1;
        if (std::strstr(line, "PLAIN")) cap_auth_plain = 1;
        if (std::strstr(line, "CRAM-MD5")) cap_auth_cram = 1;
    }
}

int SmtpClient::read_reply()
{
    int r;
    int lines = 0;
    do {
        if (++lines > max_reply_lines) {
            // A reply that never ends is refused, not followed for ever.
            close();
            std::snprintf(reply, sizeof reply, "reply longer than %d lines", max_reply_lines);
            return -1;
        }
        r = TpClient::read_reply();
        if (r <= 0 && !(r == 0 && reply[0])) return r;
        parse_capability(reply);
    } while (std::strlen(reply) > 3 && reply[3] == '-' && connected());
    return r;
}

int SmtpClient::hello()
{
    int r = send_command("%s %s\r\n", esmtp ? "EHLO" : "HELO", greeting_name());
    if (r <= 0) return r;
    r = read_reply();
    if (positive(r)) {
        esmtp_active = esmtp;
        return r;
    }
    if ((r = send_command("HELO %s\r\n", greeting_name())) <= 0) return r;
    return read_reply();
}

int SmtpClient::open_connection(const char* host_text, const char* port_text, const char* cert_file, int tls_level)
{
    if (connected()) disconnect();
    first_transaction = 1;
    int r = TpClient::open_connection(host_text, port_text, cert_file, tls_level);
    if (r < 0) return r;
    // Firewall banners come before the greeting: read until a numbered reply.
    for (int lines = 0; r == 0 && !firewall.empty() && connected() && lines < 100; ++lines) r = read_reply();
    if (!connected()) return r < 0 ? r : -1;
    clear_capabilities();
    esmtp_active = 0;
    r = hello();
    if (starttls && cap_starttls) {
        if ((r = send_command("STARTTLS\r\n")) <= 0) return r;
        r = read_reply();
        if (!positive(r)) return r;
        if (!start_tls(cert_file, tls_level)) {
            close();
            return -1;
        }
        clear_capabilities();
        if ((r = send_command("EHLO %s\r\n", greeting_name())) <= 0) return r;
        r = read_reply();
    }
    return r;
}

int SmtpClient::login(const char* user, const char* password)
{
    if (!esmtp_active) {
        std::snprintf(reply, sizeof reply, "ESMTP not enabled\r\n");
        return 0;
    }
    std::string u = user ? user : "", p = password ? password : "";
    bool authenticated = false;
    int r;
    // A response goes only to a server that asked for it (334): after a
    // refusal it would be a command line, and the password in its log.
    if (cap_auth_cram && apop) {
        if ((r = send_command("AUTH CRAM-MD5\r\n")) <= 0) return r;
        if (read_reply_line(257) <= 0) return 0;
        if (starts_with(reply, "334")) {
            const char* blank = std::strchr(reply, ' ');
            std::string challenge = base64_decode(blank ? blank + 1 : "", blank ? std::strlen(blank + 1) : 0);
            challenge = challenge.substr(0, challenge.find_first_of(" \t\r\n"));
            unsigned char digest[16];
            hmac_md5(challenge.data(), challenge.size(), p.data(), p.size(), digest);
            char hex[33];
            digest_to_hex(digest, hex);
            std::string answer = u + " " + hex;
            std::string encoded = base64_encode(answer.data(), answer.size(), 0);  // ends in CR LF
            if ((r = send(encoded.data(), encoded.size())) <= 0) return r;
            authenticated = positive(read_reply());
        }
    }
    if (!authenticated && (cap_auth_plain || !cap_auth_login)) {
        if ((r = send_command("AUTH PLAIN\r\n")) <= 0) return r;
        if (read_reply_line(256) <= 0) return 0;
        if (starts_with(reply, "334")) {
            std::string credentials = std::string(1, '\0') + u + std::string(1, '\0') + p;
            std::string encoded = base64_encode(credentials.data(), credentials.size(), 0);
            if ((r = send(encoded.data(), encoded.size())) <= 0) return r;
            authenticated = positive(read_reply());
        }
    }
    if (!authenticated && cap_auth_plain && !cap_auth_login) return 0;
    if (!authenticated) {
        std::string encoded_user = base64_encode(u.data(), u.size(), 0);
        encoded_user.resize(encoded_user.size() >= 2 ? encoded_user.size() - 2 : 0);
        if ((r = send_command("AUTH LOGIN %s\r\n", encoded_user.c_str())) <= 0) return r;
        if (!positive(read_reply())) return -1;
        std::string encoded = base64_encode(p.data(), p.size(), 0);
        if ((r = send(encoded.data(), encoded.size())) <= 0) return r;
        if (!positive(read_reply())) return 0;
    }
    // On an encrypted connection no EHLO follows, so the capabilities of the
    // last one still hold.
    if (implicit_tls || starttls) return 1;
    cap_onex = cap_etrn = cap_dsn = cap_8bitmime = 0;
    if ((r = send_command("%s %s\r\n", esmtp ? "EHLO" : "HELO", greeting_name())) <= 0) return r;
    if (!positive(read_reply())) {
        esmtp_active = 0;
        if ((r = send_command("HELO %s\r\n", greeting_name())) <= 0) return r;
        read_reply();
    }
    return 1;
}

int SmtpClient::rcpt(const Recipient& recipient)
{
    int r;
    if (recipient.with_dsn && esmtp_active && cap_dsn && composer.return_receipt)
        r = send_command("RCPT TO:<%s> NOTIFY=DELAY,SUCCESS,FAILURE ORCPT=rfc822;%s\r\n", recipient.address.c_str(),
                      recipient.address.c_str());
    else
        r = send_command("RCPT TO:<%s>\r\n", recipient.address.c_str());
    if (r <= 0) return r;
    return read_reply();
}

int SmtpClient::data(const Envelope& envelope, bool lists, const char* body, size_t length)
{
    int r = send_command("DATA\r\n");
    if (r <= 0) return r;
    if (!positive(r = read_reply())) return r;
    return transmit(envelope, lists, body, length);
}

int SmtpClient::send_message(const Envelope& e, const char* body, size_t length)
{
    if (e.from.empty() || e.to.empty()) return -1;
    // A header that cannot be written is refused before the envelope.
    if (composer.check_headers(e, false) <= 0) return composer_failure(-1);
    std::vector<Recipient> recipients;
    for (const std::string& entry : rcpt_entries(e.to.c_str())) recipients.push_back({reduce_address(entry.c_str()), true});
    for (const std::string& entry : rcpt_entries(e.cc.c_str())) recipients.push_back({reduce_address(entry.c_str()), true});
    for (const std::string& entry : rcpt_entries(e.bcc.c_str()))
        recipients.push_back({reduce_address(entry.c_str()), false});
    take_extra_recipients(recipients, false);
    size_t next = 0;
    int r = -1;
    int empty_transactions = 0;
    do {
        if (!first_transaction) {
            if ((r = send_command("RSET\r\n")) <= 0) return r;
            if (!positive(r = read_reply())) return r;
        }
        first_transaction = 0;
        if (!positive(r = mail_from(e))) return r;
        int accepted = 0;
        bool refused = false;
        int last = place_recipients(recipients, next, false, accepted, refused);
        if (refused || probe) return last;
        if (accepted == 0) {
            // Nothing was placed in this transaction: no DATA without recipients.
            if (next >= recipients.size() || ++empty_transactions > max_empty_transactions) return last;
            continue;
        }
        r = data(e, false, body, length);
        if (r <= 0) return r;
    } while (next < recipients.size());
    return r;
}

void SmtpClient::take_extra_recipients(std::vector<Recipient>& recipients, bool with_dsn)
{
    void* extra;
    while (extra_recipients.take_first(extra)) {
        recipients.push_back({reduce_address(static_cast<char*>(extra)), with_dsn});
        delete[] static_cast<char*>(extra);
    }
}

int SmtpClient::mail_from(const Envelope& e)
{
    std::string sender = reduce_address(!e.errors_to.empty() ? e.errors_to.c_str() : e.from.c_str());
    bool eight = esmtp_active && cap_8bitmime && composer.eight_bit;
    int r = send_command("MAIL FROM:<%s>%s\r\n", sender.c_str(), eight ? " BODY=8BITMIME" : "");
    return r <= 0 ? r : read_reply();
}

int SmtpClient::place_recipients(const std::vector<Recipient>& recipients, size_t& next, bool limit_offers,
                                 int& accepted, bool& refused)
{
    int per_transaction = limit > 0 ? limit : INT_MAX;
    int offered = 0, last = 1;
    while (next < recipients.size() && (limit_offers ? offered : accepted) < per_transaction) {
        ++offered;
        last = rcpt(recipients[next]);
        if (positive(last)) {
            ++accepted;
            ++next;
        } else if (starts_with(reply, "452") || starts_with(reply, "552")) {
            break;  // the rest go in the next transaction
        } else if (continue_on_refusal && connected()) {
            ++next;
        } else {
            refused = true;
            break;
        }
    }
    return last;
}

int SmtpClient::send_message_lists(const Envelope& e, const char* body, size_t length)
{
    if (composer.check_headers(e, true) <= 0) return composer_failure(-1);
    std::vector<Recipient> pending;
    for (const List<string>* list : {&e.to_list, &e.cc_list, &e.bcc_list}) {
        ListIterator<string> it(const_cast<List<string>&>(*list));
        string entry;
        for (int more = it.first(entry); more; more = it.next(entry))
            pending.push_back({reduce_address(entry.c_str()), true});
    }
    take_extra_recipients(pending, true);
    if (pending.empty()) {
        std::snprintf(reply, sizeof reply, "no recipients");
        return -1;
    }
    size_t next = 0;
    int r;
    do {
        if (!positive(r = mail_from(e))) return r;
        int accepted = 0;
        bool refused = false;
        int last = place_recipients(pending, next, true, accepted, refused);
        if (refused) return last;
        if (accepted == 0) return -1;  // a transaction that placed nobody would repeat for ever
        if ((r = data(e, true, body, length)) <= 0) return r;
        if ((r = send_command("RSET\r\n")) <= 0) return r;
        r = read_reply();
    } while (next < pending.size());
    return r;
}

int SmtpClient::load_recipients(const char* file)
{
    if (!file || !*file) return 0;
    LineReader reader(file, 255);
    std::string line;
    while (reader.next(line)) {
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (line.empty() || line[0] == '\r' || line[0] == '#') continue;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) extra_recipients.add(copy_text(line.c_str()));
    }
    return 0;
}

int SmtpClient::etrn(const char* domain)
{
    if (!cap_etrn) return -1;
    int r = send_command("ETRN %s\r\n", domain);
    if (r <= 0) return r;
    return read_reply();
}

int MySmtpClient::progress(int percent)
{
    write_progress_file(meter_file, percent, last_write, false);
    return result_value;
}

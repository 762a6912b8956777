#include "send/imaptp_client.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base64.h"
#include "base/byte_sink.h"
#include "base/digests.h"
#include "platform/nocase.h"
#include "retrieve/imap_client.h"
#include "send/smtp_client.h"

namespace {

bool contains_nocase(const char* text, const char* word) { return find_nocase(text, word) != nullptr; }

// base64 on one line, CR LF after it.
std::string base64_line(const std::string& bytes)
{
    std::string encoded = base64_encode(bytes.data(), bytes.size(), 0);
    while (!encoded.empty() && (encoded.back() == '\n' || encoded.back() == '\r')) encoded.pop_back();
    return encoded + "\r\n";
}

// One surrounding pair of double quotes removed, then quoted for IMAP.
std::string login_word(const string& value)
{
    std::string v = value.c_str();
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return imap_quoted(v.c_str());
}

// The host:port of "[REFERRAL IMAP://user;AUTH=...@host:port/]".
void referral_server(const char* line, std::string& host, std::string& port, std::string& user)
{
    char h[256] = "", u[256] = "";
    std::sscanf(line, "%*s %*s [REFERRAL %*[iImMaApP]://%255[^;@]", u);
    const char* at = std::strstr(line, "[REFERRAL ");
    at = at ? std::strchr(at, '@') : nullptr;
    if (at) std::sscanf(at + 1, "%255[^/]", h);
    host = h;
    user = u;
    port = "143";
    // A port in the URL is used (the server asked for it), else 143.
    size_t colon = host.find(':');
    if (colon != std::string::npos) {
        port = host.substr(colon + 1);
        host.erase(colon);
    }
}

}  // namespace

void ImaptpClient::clear_capabilities()
{
    cap_starttls = cap_uidplus = cap_auth_login = cap_auth_plain = cap_auth_cram = 0;
    capabilities_seen = 0;
}

void ImaptpClient::take_capabilities(const char* text)
{
    if (std::strstr(text, "STARTTLS")) cap_starttls = 1;
    if (std::strstr(text, "UIDPLUS")) cap_uidplus = 1;
    if (contains_nocase(text, " AUTH=LOGIN")) cap_auth_login = 1;
    if (contains_nocase(text, " AUTH=PLAIN")) cap_auth_plain = 1;
    if (contains_nocase(text, " AUTH=CRAM-MD5")) cap_auth_cram = 1;
    capabilities_seen = 1;
}

bool ImaptpClient::set_folder(const char* name)
{
    if (!name || !*name) return false;
    folder = name;
    return true;
}

int ImaptpClient::read_reply()
{
    for (int lines = 0; lines < max_reply_lines; ++lines) {
        int n = read_reply_line();
        if (n <= 0) return n < 0 ? n : -1;
        if (tag < 0) {
            tag = 0;
            return 1;
        }
        if (reply[0] == '*') {
            char text[256];
            // The capability text may follow its word in any case, with the
            // list up to the line end.
            if (std::sscanf(reply, "* CAPABILITY %255[^\r\n]", text) == 1) take_capabilities(reply);
            continue;
        }
        if (reply[0] == '+') return 1;  // a continuation request
        unsigned long number = std::strtoul(reply, nullptr, 10);
        if (cap_uidplus)
            if (const char* code = std::strstr(reply, "[APPENDUID"))
                std::sscanf(code, "[%*s %lu %lu]", &append_uid_validity, &append_uid);
        // The reply's result is the word after the tag; an "OK" further on
        // (in a NO's text) does not make it a success.
        const char* word = std::strchr(reply, ' ');
        bool ok = word && nocase_compare_n(word + 1, "OK", 2) == 0;
        return (static_cast<int64_t>(number) == tag && ok) ? 1 : 0;
    }
    std::snprintf(reply, sizeof reply, "more than %d lines before the tagged reply", max_reply_lines);
    return -1;
}

int ImaptpClient::command(const char* pattern, const char* argument)
{
    ++tag;
    int r = argument ? send_command(pattern, static_cast<unsigned long>(tag), argument)
                     : send_command(pattern, static_cast<unsigned long>(tag));
    if (r <= 0) return r;
    return read_reply();
}

int ImaptpClient::capability()
{
    int r = command("%lu CAPABILITY\r\n");
    if (r < 0) close();
    return r;
}

int ImaptpClient::open_connection(const char* host_text, const char* port_text, const char* cert, int level)
{
    return open_with_referrals(host_text, port_text, cert, level, 0);
}

int ImaptpClient::open_with_referrals(const char* host_text, const char* port_text, const char* cert, int level,
                                      int hops)
{
    if (connected()) disconnect();
    tag = -1;
    clear_capabilities();
    int r = TpClient::open_connection(host_text, port_text, cert, level);
    if (r <= 0) return r;
    if (std::strstr(reply, "[CAPABILITY ")) take_capabilities(reply);
    if (std::strstr(reply, "[REFERRAL ") && hops < max_referrals) {
        std::string h, p, u;
        referral_server(reply, h, p, u);
        close();
        return open_with_referrals(h.c_str(), port_text, cert, level, hops + 1);
    }
    tag = 0;
    if (!capabilities_seen && (r = capability()) < 0) return r;
    if (starttls && cap_starttls) {
        if ((r = command("%lu STARTTLS\r\n")) > 0) {
            if (!start_tls(cert, level)) {
                close();
                return -1;
            }
            clear_capabilities();
            if ((r = capability()) < 0) return r;
        }
    }
    return 1;
}

int ImaptpClient::authenticate()
{
    const std::string u = user.c_str(), p = password.c_str();
    if (cap_auth_cram && apop) {
        ++tag;
        if (send_command("%lu AUTHENTICATE CRAM-MD5\r\n", static_cast<unsigned long>(tag)) <= 0) return 0;
        if (read_reply_line(256) <= 0) {
            close();
            return 0;
        }
        const char* blank = std::strchr(reply, ' ');
        string answer = cram_md5_response(blank ? blank + 1 : "", u.c_str(), p.c_str());
        return send(answer.c_str(), answer.length());
    }
    if (cap_auth_plain) {
        ++tag;
        if (send_command("%lu AUTHENTICATE PLAIN\r\n", static_cast<unsigned long>(tag)) <= 0) return 0;
        if (read_reply_line() <= 0) {
            close();
            return 0;
        }
        std::string credentials = std::string(1, '\0') + u + std::string(1, '\0') + p;
        std::string line = base64_line(credentials);
        return send(line.data(), line.size());
    }
    if (cap_auth_login) {
        ++tag;
        if (send_command("%lu AUTHENTICATE LOGIN\r\n", static_cast<unsigned long>(tag)) <= 0) return 0;
        for (const std::string* word : {&u, &p}) {
            if (read_reply_line() <= 0) {
                close();
                return 0;
            }
            std::string line = base64_line(*word);
            if (send(line.data(), line.size()) <= 0) return 0;
        }
        return 1;
    }
    ++tag;
    std::string words = login_word(user) + " " + login_word(password);
    return send_command("%lu LOGIN %s\r\n", static_cast<unsigned long>(tag), words.c_str());
}

int ImaptpClient::login(const char* u, const char* p)
{
    return login_with_referrals(u, p, 0);
}

int ImaptpClient::login_with_referrals(const char* u, const char* p, int hops)
{
    user = u ? u : "";
    password = p ? p : "";
    capabilities_seen = cap_uidplus = cap_starttls = 0;
    int r = authenticate();
    if (r <= 0) return r;
    r = read_reply();
    if (std::strstr(reply, "[REFERRAL ") && hops < max_referrals) {
        std::string h, port_text, referral_user;
        referral_server(reply, h, port_text, referral_user);
        disconnect();
        std::string saved = p ? p : "";
        int c = TpClient::open_connection(h.c_str(), port_text.c_str(), nullptr, 0);
        if (c <= 0) return c;
        tag = 0;
        if ((c = capability()) < 0) return c;
        return login_with_referrals(referral_user.c_str(), saved.c_str(), hops + 1);
    }
    // The refused login's reply stays for "Login failed: ".
    if (r > 0 && !capabilities_seen) {
        if (std::strstr(reply, "[CAPABILITY ")) {
            take_capabilities(reply);
        } else {
            int c = capability();
            if (c < 0) return c;
        }
    }
    return r;
}

int ImaptpClient::upload(const Envelope& envelope, bool lists, const char* body, size_t length)
{
    data_sent = 0;
    composer.begin_message(host.c_str());
    // The whole message first, so the literal's size is known; the buffer
    // grows as the composer writes. Nothing is dot-stuffed: a literal goes
    // as it is.
    MemorySink message;
    int r = composer.write_message(envelope, lists, body, length, message, false);
    if (r <= 0) return composer_failure(r);
    const std::string& bytes = message.bytes();
    ++tag;
    std::string mailbox = imap_quoted(folder.c_str());
    if ((r = send_command("%lu APPEND %s (\\Seen) {%lu}\r\n", static_cast<unsigned long>(tag), mailbox.c_str(),
                          static_cast<unsigned long>(bytes.size()))) <= 0)
        return r;
    // The server asks for the literal with "+"; a tagged answer instead
    // (NO, BAD) refuses it, and the bytes must not follow as commands.
    if ((r = read_reply_line()) <= 0) return r < 0 ? r : -1;
    if (reply[0] != '+') return 0;
    if (queue(bytes.data(), bytes.size()) <= 0 && !bytes.empty()) return -1;
    if ((r = send("\r\n", 2)) <= 0) return r;
    data_sent = 1;
    return read_reply();
}

int ImaptpClient::send_message(const Envelope& envelope, const char* body, size_t length)
{
    if (envelope.from.empty() || envelope.to.empty()) return -1;
    return upload(envelope, false, body, length);
}

int ImaptpClient::send_message_lists(const Envelope& envelope, const char* body, size_t length)
{
    return upload(envelope, true, body, length);
}

int ImaptpClient::quit()
{
    if (!connected()) return -1;
    set_timeout(30);
    return command("%lu LOGOUT\r\n");
}

int ImaptpClient::disconnect()
{
    int r = TpClient::disconnect();
    folder = "INBOX";
    user = password = string();
    tag = -1;
    clear_capabilities();
    return r;
}

int MyImaptpClient::progress(int percent)
{
    write_progress_file(meter_file, percent, last_write, true);
    return result_value;
}

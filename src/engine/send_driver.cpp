// The send driver: checks the addresses, collects the body, finds the
// server, connects, logs in, sends (count copies, a summary line each) and
// cleans up.
#include "engine/send_driver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "base/crlf_lines.h"
#include "base/line_reader.h"
#include "base/text_utils.h"
#include "engine/client_modes.h"
#include "engine/engine_main.h"
#include "engine/exchangers.h"
#include "engine/labels.h"
#include "engine/message_file.h"
#include "engine/option_state.h"
#include "engine/run_state.h"
#include "base/text_stream.h"
#include "net/dns.h"
#include "send/smtp_client.h"
#include "platform/paths.h"

namespace {

// Reads a data file whole; CR LF pairs become LF and then every LF CR LF.
bool append_data_file(const char* path, std::string& body)
{
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char block[65536];
    size_t n;
    CrlfLines lines;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) lines.convert(block, n, body);
    lines.finish(body);
    bool read_whole = !std::ferror(f);
    std::fclose(f);
    return read_whole;
}

bool relay_mode(const OptionState& o) { return o.relay != 0; }

// The checks before anything is read or sent; false after a message.
bool addresses_ok(const OptionState& o)
{
    bool exempt = !o.etrn.empty() || o.import || relay_mode(o);
    if (o.from.empty() && !exempt) {
        error_stream << "Missing from address\r\n";
        return false;
    }
    if (o.verify && !is_valid_address(o.from.c_str())) {
        error_stream << "Invalid email address: '" << o.from << "'\r\n";
        return false;
    }
    if (o.to.empty() && !exempt) {
        error_stream << "Missing to address\r\n";
        return false;
    }
    if (!o.file.empty() && !file_exists(o.file.c_str())) {
        error_stream << "Missing data file: " << o.file << "\r\n";
        return false;
    }
    return true;
}

// The body: the message text and the data files, else standard input.
bool collect_body(const OptionState& o, std::string& body, string& content_base)
{
    body.assign(o.msg.c_str(), o.msg.length());
    if (!o.file.empty() || !o.msg.empty() || !o.etrn.empty() || o.probe) {
        ListIterator<string> it(run_state().file_list);
        string path;
        for (int more = it.first(path); more; more = it.next(path)) {
            // A line end keeps the text and the file apart (none before a first file).
            if (!body.empty() && body.back() != '\n') body += "\r\n";
            if (!append_data_file(path.c_str(), body)) {
                // Half a body is not sent as if it were the message.
                error_stream << "Could not read data file: " << path << " (" << std::strerror(errno) << ")\r\n";
                return false;
            }
        }
        if (o.uue) content_base = o.file;
        return true;
    }
    if (o.web_mode) {
        error_stream << "No message body (either file or post)\r\n";
        return false;
    }
    if (o.nomsg) return true;  // an empty body, and nothing is read
    if (!o.quiet) report_stream << "Enter message text...\r\n";
    // Read as bytes, like a data file: a NUL or a long line is text too.
    char block[65536];
    size_t n;
    CrlfLines lines;
    while ((n = std::fread(block, 1, sizeof block, stdin)) > 0) lines.convert(block, n, body);
    lines.finish(body);
    if (std::ferror(stdin)) {
        error_stream << "Could not read the message text: " << std::strerror(errno) << "\r\n";
        return false;
    }
    if (!body.empty() && body.back() != '\n') body += "\r\n";
    return true;
}

struct ServerChoice {
    string dns_server;
    List<Server> exchangers;
    string host;
    int preference = -1;
};

// Looks up the mail exchangers of the recipients' domain; false after a
// message.
bool find_exchangers(const OptionState& o, ServerChoice& choice)
{
    choice.dns_server = o.ns_host;
    string domain = address_domain(o.to.c_str());
    if (domain_is_address(domain)) {
        choice.host = domain;
        return true;
    }
    if (o.import || relay_mode(o)) return true;
    if (o.verbose >= 1) report_stream << "Check DNS = " << choice.dns_server << "\r\n";
    DNS dns;
    prepare_dns(dns);
    int r = dns.connect(choice.dns_server, string("53"));
    if (r <= 0) {
        error_stream << "Could not connect to Domain Name Server: " << choice.dns_server << ", error= " << r << "\r\n";
        return false;
    }
    query_exchangers(dns, domain, choice.exchangers);
    Server first;
    ListIterator<Server> it(choice.exchangers);
    if (!it.first(first)) {
        error_stream << "Could not route to domain: " << domain << "\r\n";
        return false;
    }
    choice.host = first.host;
    choice.preference = first.preference;
    choice.exchangers.remove_first();
    return true;
}

// Connects the transport, trying again while the retry budget lasts and
// then the further exchangers once each; false after a message.
bool connect_transport(const OptionState& o, TpClient& t, ServerChoice& choice, string& host, string& port)
{
    bool mx = o.mx || o.probe;
    if (mx && !choice.host.empty()) host = choice.host;
    const char* cert = (!o.cert.empty() && (o.ssl || o.tls)) ? o.cert.c_str() : nullptr;
    int level = static_cast<int>(std::strtol(o.level.c_str(), nullptr, 10));
    int retries = o.retries;
    for (;;) {
        if (!o.quiet && o.verbose >= 1)
            report_stream << "[" << choice.dns_server << "] MX/A server (" << choice.preference << ") = '"
                          << (mx ? choice.host : string()) << "'\r\n";
        int r = t.open_connection(host.c_str(), port.c_str(), cert, level);
        if (r > 0) return true;
        error_stream << "Could not connect to server: " << host << ":" << port << ", error= " << r << "\r\n";
        if (t.reply[0]) error_stream << "Status: " << t.reply << "\r\n";  // what the server said, if anything
        if (retries-- > 0) continue;
        Server next;
        if (!mx || !choice.exchangers.take_first(next)) return false;
        choice.host = host = next.host;
        choice.preference = next.preference;
        retries = 0;
    }
}

}  // namespace

std::string format_double(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

bool send_with_summary(TpClient& t, const Envelope& e, const std::string& body, int count)
{
    const OptionState& o = options();
    size_t length = body.size();
    if (o.msglen > 0 && static_cast<size_t>(o.msglen) < length) length = static_cast<size_t>(o.msglen);
    for (int copy = 0; copy < count; ++copy) {
        time_t start = time(nullptr);
        clock_t start_clock = clock();
        int r = t.send_message(e, body.data(), length);
        if (r <= 0) {
            error_stream << "Could not send: " << " error= " << r << "\r\n" << "Status: " << t.reply << "\r\n";
            return false;
        }
        if (o.verbose == 1 && !o.quiet) {
            const struct {
                const char* key;
                const string& value;
            } lines[] = {{"STRING_To", e.to}, {"STRING_Cc", e.cc}, {"STRING_Bcc", e.bcc}, {"STRING_From", e.from},
                         {"STRING_Subject", e.subject}};
            for (const auto& l : lines) report_stream << label(l.key) << ": " << l.value << "\r\n";
        }
        long ms = static_cast<long>(time(nullptr) - start) * 1000;
        if (ms == 0) ms = static_cast<long>((clock() - start_clock) * 1000 / CLOCKS_PER_SEC);
        if (ms == 0) ms = 1;
        if (o.quiet) continue;
        report_stream << "Sent " << static_cast<long long>(t.body_bytes_sent()) << " bytes in";
        if (o.kbs) {
            double kbs = static_cast<double>(t.body_bytes_sent()) / 1024.0 / static_cast<double>(ms) * 1000.0;
            report_stream << " " << format_double(ms / 1000.0).c_str() << " seconds (" << format_double(kbs).c_str()
                          << " KB/s)";
        }
        int attached = run_state().attachment_list.count();
        if (attached) report_stream << " with " << attached << " attachments ";
        time_t now = time(nullptr);
        char when[32];
        ctime_r(&now, when);
        when[24] = 0;
        report_stream << "to '" << e.to << "' " << when << "\r\n";
    }
    return true;
}

int send_mail()
{
    OptionState& o = options();
    RunState& rs = run_state();
    TpClient& t = rs.current_transport();
    const TransportMode& mode = transport_mode(rs.transport_kind);
    if (!addresses_ok(o)) return 1;
    std::string body;
    string content_base = o.url;
    if (!collect_body(o, body, content_base)) return 1;

    ServerChoice choice;
    choice.dns_server = o.ns_host;
    bool mx = o.mx || o.probe;
    if (mx && !find_exchangers(o, choice)) return 1;

    string host = o.*mode.host, port = o.*mode.port;
    if (mode.port_names_extension && port == default_smtp_port) port.clear();  // no "-port:" given
    // Description files in exchanger mode connect for every message themselves.
    bool per_message = mx && (o.import || relay_mode(o)) && choice.host.empty();
    if (!per_message && !connect_transport(o, t, choice, host, port)) return 1;
    if (!o.user.empty() && t.login(o.user.c_str(), o.pass.c_str()) < 1) {
        error_stream << "Login failed: " << t.reply << "\r\n";
        return 1;
    }
    if (mode.kind == TransportKind::imap_upload) rs.clients->imap_upload->set_folder(o.mbox.c_str());
    if (o.verbose >= 1 && !per_message) report_stream << "Connected to '" << host << ":" << port << "'\r\n";

    if (!o.etrn.empty()) {
        if (mode.kind == TransportKind::smtp) rs.clients->smtp->etrn(o.etrn.c_str());
    } else if (o.import || relay_mode(o)) {
        if (!read_message_file(relay_mode(o), body, o.cnt, o.to, o.cc, o.bcc).all_sent()) return 1;
    } else {
        if (!o.html && !o.header.empty()) body.insert(0, o.header.c_str(), o.header.length());
        Envelope e;
        e.from = o.from;
        e.reply_to = o.replyto;
        e.to = o.to;
        e.cc = o.cc;
        e.bcc = o.bcc;
        e.subject = o.subject;
        e.content_base = content_base;
        if (!send_with_summary(t, e, body, o.cnt)) return 1;
    }

    // Nothing is removed before the message is safe: a message file is only
    // complete once it is closed.
    if (t.complete() <= 0) {
        error_stream << "Could not send: " << " error= -1\r\n" << "Status: " << t.reply << "\r\n";
        return 1;
    }
    t.clear_attachments(o.rm);
    if (o.rm) {
        ListIterator<string> it(rs.file_list);
        string path;
        for (int more = it.first(path); more; more = it.next(path)) remove_file_traced(path.c_str(), __FILE__, __LINE__);
    }
    if (o.rmlist)
        for (const string* list : {&o.tolist, &o.cclist, &o.bcclist})
            if (!list->empty()) remove_file_traced(list->c_str(), __FILE__, __LINE__);
    if (t.connected()) {
        t.disconnect();
        if (o.verbose >= 1) report_stream << "Disconnected\r\n";
    }
    return 0;
}

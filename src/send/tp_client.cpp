#include "send/tp_client.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/header_words.h"
#include "base/heap_text.h"
#include "engine/text_stream.h"
#include "platform/paths.h"
#include "platform/time_zone.h"

namespace {

void remove_listed_files(ListOf& list)
{
    ListOfIterator it(list);
    void* path;
    for (int more = it.first(path); more; more = it.next(path)) remove_file(static_cast<char*>(path));
}

bool is_list_separator(char c) { return c == ' ' || c == ','; }

}  // namespace

TpClient::TpClient() : SSL_SockClient(0, '\n', 0) { timeout = 300; }

TpClient::~TpClient()
{
    clear_attachments(0);
    delete[] command_;
}

void TpClient::set_content_type(const string& type)
{
    if (!type.empty()) content_type = type;
}

void TpClient::set_charset(const string& name)
{
    if (!name.empty()) charset = name;
}

void TpClient::set_organization(const string& text)
{
    if (!text.empty()) organization = text;
}

void TpClient::set_sensitivity(const string& text)
{
    if (!text.empty()) sensitivity = text;
}

void TpClient::set_buffer_size(int size)
{
    delete[] command_;
    command_ = nullptr;
    command_size_ = size > 0 ? size : 4096;
}

bool TpClient::add_attachment(const char* path, const char* location, int related)
{
    if (!path || !file_exists(path)) return false;
    ListOf& files = related ? related_files : attachment_files;
    ListOf& locations = related ? related_locations : attachment_locations;
    files.add(copy_text(to_platform_separators(string(path)).c_str()));
    locations.add(copy_text(location));
    return true;
}

void TpClient::clear_attachments(int delete_files)
{
    if (delete_files) {
        remove_listed_files(attachment_files);
        remove_listed_files(related_files);
    }
    free_texts(attachment_files);
    free_texts(attachment_locations);
    free_texts(related_files);
    free_texts(related_locations);
}

int TpClient::load_recipients(const char*) { return 0; }

int TpClient::progress(int) { return 0; }

void TpClient::echo(const char* text, size_t length)
{
    if (trace_level) report_stream.write(text, length);
}

int TpClient::send(const char* data, size_t length)
{
    size_t done = 0;
    while (done < length) {
        size_t piece = length - done < (1u << 30) ? length - done : (1u << 30);
        int r = write(data + done, static_cast<int>(piece));
        if (r <= 0) return r == 0 ? -1 : r;
        done += static_cast<size_t>(r);
    }
    return static_cast<int>(length > INT_MAX ? INT_MAX : length);
}

int TpClient::send_line(const char* pattern, ...)
{
    if (!command_) command_ = new char[command_size_];
    va_list args;
    va_start(args, pattern);
    int n = std::vsnprintf(command_, static_cast<size_t>(command_size_), pattern, args);
    va_end(args);
    if (n < 0) return -1;
    size_t length = static_cast<size_t>(n) < static_cast<size_t>(command_size_) ? static_cast<size_t>(n)
                                                                                : static_cast<size_t>(command_size_ - 1);
    echo(command_, length);
    return send(command_, length);
}

void TpClient::report_progress()
{
    if (total_size != 0) progress(static_cast<int>(progress_count * 100 / total_size));
}

int TpClient::send_body(const char* data, size_t length)
{
    if (length == 0) return 1;
    int r = send(data, length);
    if (r <= 0) return r;
    body_bytes_sent += length;
    progress_count += length;
    if (trace_level >= 3) report_stream.write(data, length);
    report_progress();
    return r;
}

int TpClient::send_dot_stuffed(const char* data, size_t length, bool& at_line_start)
{
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (at_line_start && data[i] == '.') {
            // Send up to and including the '.', then the '.' again.
            int r = send_body(data + start, i - start + 1);
            if (r <= 0) return r;
            start = i;
        }
        at_line_start = data[i] == '\n';
    }
    return send_body(data + start, length - start);
}

int TpClient::connect_host_list(const char* hosts, const char* service)
{
    int result = -1;
    const char* p = hosts ? hosts : "";
    do {
        while (is_list_separator(*p)) ++p;
        const char* end = p;
        while (*end && !is_list_separator(*end)) ++end;
        std::string name(p, static_cast<size_t>(end - p));
        result = SockClient::connect(name.c_str(), service);
        if (result > 0) return result;
        p = end;
    } while (*p);
    return result;
}

int TpClient::open_tunnel(const char* target_host, const char* target_port)
{
    int r = send_line("CONNECT %s:%s HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", target_host, target_port);
    if (r <= 0) return r;
    char line[1024];
    for (;;) {
        int n = read_line(line, sizeof line - 1);
        if (n <= 0) break;
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
        if (n == 0) break;
    }
    return 1;
}

int TpClient::open_connection(const char* host_text, const char* port_text, const char* cert_file, int tls_level)
{
    bool tunnel = !tunnel_host.empty();
    host = tunnel ? tunnel_host : string(host_text);
    port = tunnel ? tunnel_port : string(port_text);
    if (!command_) command_ = new char[command_size_];
    command_[0] = 0;
    reply[0] = 0;
    int r = connect_host_list(host.c_str(), port.c_str());
    if (r <= 0) return r;
    if (!firewall.empty() && send(firewall.c_str(), firewall.length()) <= 0) return -1;
    if (tunnel) open_tunnel(host_text, port_text);
    if (implicit_tls && !start_tls(cert_file, tls_level)) {
        close();
        return 0;
    }
    return read_reply();
}

int TpClient::read_reply()
{
    if (!connected()) return -1;
    int n = read_line(reply, sizeof reply - 1);
    if (n <= 0) {
        reply[0] = 0;
        close();
        return n;
    }
    reply[n] = 0;
    if (trace_level) {
        size_t shown = std::strcspn(reply, "\r\n");  // the reply's own line end is not echoed twice
        report_stream.write(reply, shown);
        report_stream << "\r\n";
    }
    if (reply[0] >= '1' && reply[0] <= '3') return 1;
    if (reply[0] >= '4' && reply[0] <= '9') return -1;
    return 0;
}

int TpClient::quit()
{
    timeout = 30;
    int r = send_line("QUIT\r\n");
    if (r <= 0) return r;
    return read_reply();
}

int TpClient::disconnect()
{
    clear_attachments(0);
    if (connected()) quit();
    reply[0] = 0;
    int r = close();
    delete[] command_;
    command_ = nullptr;
    return r;
}

string TpClient::header_value(const char* value, bool address_mode) const
{
    return encode_header_text(charset.c_str(), encode_headers != 0, value, address_mode);
}

int TpClient::write_recipient_lines(const char* to, const char* cc)
{
    std::string groups;  // the news form: every entry on one line
    struct Field {
        const char* text;
        const char* first;
        bool hidden;
    } fields[] = {{to, "To", hide && std::strchr(to, ',')}, {cc, "Cc", false}};
    for (const Field& f : fields) {
        bool first = true;
        const char* p = f.text;
        while (p && *p) {
            // The entry runs to the next comma outside a leading quoted part.
            const char* scan = p;
            while (*scan == ' ') ++scan;
            if (*scan == '"') {
                const char* close_quote = std::strchr(scan + 1, '"');
                scan = close_quote ? close_quote + 1 : scan + std::strlen(scan);
            }
            const char* comma = std::strchr(scan, ',');
            const char* end = comma ? comma : p + std::strlen(p);
            std::string entry(p, static_cast<size_t>(end - p));
            p = comma ? comma + 1 : end;
            if (entry.empty() || entry[0] == '\\') continue;
            size_t skip = entry.find_first_not_of(" !");
            entry = skip == std::string::npos ? "" : entry.substr(skip);
            if (news) {
                if (!groups.empty()) groups += ",";
                groups += entry;
                continue;
            }
            if (f.hidden) continue;
            const char* more = (comma && *p) ? "," : "";
            string value = header_value(entry.c_str(), true);
            int r = first ? send_line("%s: %s%s\r\n", f.first, value.c_str(), more)
                          : send_line("\t%s%s\r\n", value.c_str(), more);
            if (r <= 0) return r;
            first = false;
        }
    }
    if (news && !groups.empty()) return send_line("Newsgroups: %s\r\n", groups.c_str());
    return 1;
}

int TpClient::send_message(const char* from, const char* reply_to, const char* to, const char* subject,
                           const char* body, size_t body_length, const char* content_base, const char* cc,
                           const char* bcc, const char* errors_to)
{
    body_bytes_sent = progress_count = 0;
    data_sent = 0;
    total_size = body_length;
    precedence_bulk_ = bcc && *bcc;
    if (total_size) progress(0);
    if (!from || !*from || !to || !*to) return -1;
    if (eight_bit) qp = 0;
    if (precedence_bulk_) {
        int r = send_line("Precedence: bulk\r\n");
        if (r <= 0) return r;
    }
    if (!raw) {
        int r = write_recipient_lines(to, cc ? cc : "");
        if (r <= 0) return r;
    }
    int r = write_headers(from, reply_to, subject, errors_to);
    if (r <= 0) return r;
    return write_body(body, body_length, content_base);
}

int TpClient::send_message_lists(const char* from, const char* reply_to, List<string>& to, const char* subject,
                                 const char* body, size_t body_length, const char* content_base, List<string>& cc,
                                 List<string>& bcc, const char* errors_to)
{
    body_bytes_sent = progress_count = 0;
    data_sent = 0;
    total_size = body_length;
    if (total_size) progress(0);
    if (bcc.count() > 0) {
        int r = send_line("Precedence: bulk\r\n");
        if (r <= 0) return r;
    }
    if (eight_bit) qp = 0;
    if (!raw) {
        std::string groups;
        struct Field {
            List<string>* list;
            const char* name;
        } fields[] = {{&to, "To"}, {&cc, "Cc"}};
        for (const Field& f : fields) {
            ListIterator<string> it(*f.list);
            string entry;
            for (int more = it.first(entry); more; more = it.next(entry)) {
                if (news) {
                    groups += (groups.empty() ? "" : ",") + std::string(entry.c_str());
                    continue;
                }
                int r = send_line("%s: %s\r\n", f.name, header_value(entry.c_str(), true).c_str());
                if (r <= 0) return r;
            }
        }
        if (news && !groups.empty()) {
            int r = send_line("Newsgroups: %s\r\n", groups.c_str());
            if (r <= 0) return r;
        }
    }
    int r = write_headers(from, reply_to, subject, errors_to);
    if (r <= 0) return r;
    return write_body(body, body_length, content_base);
}

int TpClient::write_id_headers()
{
    if (message_id) {
        send_line("Message-ID: %lu.%lu@%s\r\n", static_cast<unsigned long>(time(nullptr)),
                  static_cast<unsigned long>(clock()), host.c_str());
    }
    // The extra header replaces the X-Mailer line; a text without a line end
    // gets one, or the next header line would run on in it.
    if (!extra_header.empty()) {
        const char* end = extra_header.char_at(extra_header.length() - 1) == '\n' ? "" : "\r\n";
        return send_line("%s%s", extra_header.c_str(), end);
    }
    return send_line("X-Mailer: TAVRIN (%s %s)\r\n", __DATE__, __TIME__);
}

int TpClient::write_headers(const char* from, const char* reply_to, const char* subject, const char* errors_to)
{
    if (raw) return 1;
    struct Line {
        const char* pattern;
        const char* value;
        bool address_mode;
    };
    const char* receipt_to = reply_to && *reply_to ? reply_to : from;
    static const char* const priority_names[] = {"", "High", "Low", "Normal"};
    static const int priority_numbers[] = {0, 2, 4, 3};
    int p = priority >= 1 && priority <= 3 ? priority : 0;

    const Line before_mime[] = {
        {"From: %s\r\n", from, true},
        {"Reply-To: %s\r\n", reply_to, true},
        {"Originator: %s\r\n", reply_to, true},
        {"Sender: %s\r\n", reply_to, true},
        {"Errors-To: %s\r\n", errors_to, true},
        {"Subject: %s\r\n", subject, false},
        {"Organization: %s\r\n", organization.c_str(), false},
        {"Sensitivity: %s\r\n", sensitivity.c_str(), false},
    };
    for (const Line& l : before_mime) {
        if (!l.value || !*l.value) continue;
        int r = send_line(l.pattern, header_value(l.value, l.address_mode).c_str());
        if (r <= 0) return r;
    }
    if (mime) {
        int r = send_line(vpim ? "MIME-Version: 1.0 (Voice 2.0)\r\n" : "MIME-Version: 1.0\r\n");
        if (r <= 0) return r;
    }
    int r = write_id_headers();
    if (r <= 0) return r;
    if (p && (r = send_line("X-Priority: %d (%s)\r\n", priority_numbers[p], priority_names[p])) <= 0) return r;
    const Line receipts[] = {
        {"Return-Receipt-To: %s\r\n", return_receipt ? receipt_to : nullptr, true},
        {"Disposition-Notification-To: %s\r\n", disposition_notification ? receipt_to : nullptr, true},
    };
    for (const Line& l : receipts) {
        if (!l.value || !*l.value) continue;
        if ((r = send_line(l.pattern, header_value(l.value, true).c_str())) <= 0) return r;
    }
    if (p && (r = send_line("Importance: %s\r\n", priority_names[p])) <= 0) return r;
    string date = date_text.empty() ? message_date(date_style, time_zone_bias()) : date_text;
    return send_line("Date: %s\r\n", date.c_str());
}

int UnavailableTransport::open_connection(const char*, const char*, const char*, int)
{
    std::snprintf(reply, sizeof reply, "the %s transport is not available in this build", kind());
    error_stream << "ERROR: " << reply << "\r\n";
    return -1;
}

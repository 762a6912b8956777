// The transport base: the connection (host list, firewall text, proxy
// tunnel, implicit TLS), numbered replies, the composition settings, the
// header block and the MIME body, and the attachment lists.
#pragma once

#include <climits>
#include <cstdint>
#include <string>

#include "base/lists.h"
#include "base/text_string.h"
#include "net/ssl_sock.h"

class TpClient : public SSL_SockClient {
public:
    TpClient();
    ~TpClient() override;

    int disconnect() override;                                                            // 11
    virtual int open_connection(const char* host, const char* port, const char* cert, int level);  // 12
    virtual int send_message_lists(const char* from, const char* reply_to, List<string>& to, const char* subject,
                                   const char* body, size_t body_length, const char* content_base, List<string>& cc,
                                   List<string>& bcc, const char* errors_to);             // 13
    virtual int send_message(const char* from, const char* reply_to, const char* to, const char* subject,
                             const char* body, size_t body_length, const char* content_base, const char* cc,
                             const char* bcc, const char* errors_to);                     // 14
    virtual int load_recipients(const char* file);                                        // 15
    virtual int login(const char* user, const char* password) = 0;                        // 16
    virtual int progress(int percent);                                                    // 17
    virtual int write_id_headers();                                                       // 18
    virtual int quit();                                                                   // 19
    virtual int read_reply();                                                             // 20

    virtual const char* kind() const = 0;

    void set_content_type(const string& type);
    void set_charset(const string& name);
    void set_organization(const string& text);
    void set_sensitivity(const string& text);
    void set_buffer_size(int size);
    // Attaches a file (related: an inline object of an HTML body); false
    // when the file does not exist.
    bool add_attachment(const char* path, const char* location, int related);
    // Empties the lists; with delete_files the files themselves are removed.
    void clear_attachments(int delete_files);
    int32_t attachment_count() const { return attachment_files.count(); }
    int32_t related_count() const { return related_files.count(); }

    // Connection
    string host, port;
    string tunnel_host, tunnel_port;
    string firewall;
    int implicit_tls = 0, starttls = 0;
    int trace_level = 0;
    string cert;
    int level = 0;

    char reply[1024] = "";

    // Composition settings
    int raw = 0, mime = 1, qp = 1, eight_bit = 0, uue = 0, binary = 0, text = 0;
    int script_base64 = 0;  // the script asked for base64 bodies
    int html = 0, alternative = 0, inline_parts = 0, vpim = 0;
    string alt_text;
    string content_type = "text/plain";
    string charset = "us-ascii";
    int encode_headers = 1, hide = 0, priority = 0;
    int return_receipt = 0, disposition_notification = 0, message_id = 0;
    int date_style = 0;
    string date_text, organization, sensitivity, extra_header;
    int news = 0, no_terminator = 0;
    int limit = INT_MAX;
    int apop = 0;

    ListOf attachment_files, attachment_locations;
    ListOf related_files, related_locations;

    // Counters
    uint64_t body_bytes_sent = 0;
    uint64_t total_size = 0;
    uint64_t progress_count = 0;
    int data_sent = 0;

protected:
    // Sends bytes on the connection (or wherever the transport writes);
    // the count sent, else the failure result.
    int send(const char* data, size_t length);
    int send(const std::string& data) { return send(data.data(), data.size()); }
    // Formats one line into the command buffer and sends it (echoed at a
    // trace level). A line longer than the buffer is cut.
    int send_line(const char* pattern, ...) __attribute__((format(printf, 2, 3)));
    // Body data: counted and measured for progress.
    int send_body(const char* data, size_t length);
    int send_body(const std::string& data) { return send_body(data.data(), data.size()); }
    // Text line by line with a '.' doubled at the start of a line.
    int send_dot_stuffed(const char* data, size_t length, bool& at_line_start);
    void echo(const char* text, size_t length);
    void report_progress();
    string header_value(const char* value, bool address_mode) const;

    int write_headers(const char* from, const char* reply_to, const char* subject, const char* errors_to);
    int write_recipient_lines(const char* to, const char* cc);
    int write_body(const char* body, size_t length, const char* content_base);
    int write_single_part(const char* body, size_t length, const char* content_base);
    int write_multipart_body(const char* body, size_t length);
    int write_attachment_part(const char* boundary, const char* path, const char* location);
    int finish_message(const char* echo_text);
    // A transport whose message ends with a "." line (SMTP, news): every
    // line that begins with '.' is doubled there, unencoded text parts and
    // raw bodies included, and UUencoded lines end with CR LF.
    bool dot_terminated() const { return !no_terminator; }
    // UUencoded text as this transport sends it.
    std::string uu_lines(const std::string& text) const;

    int connect_host_list(const char* hosts, const char* service);
    int open_tunnel(const char* host, const char* port);

    char* command_ = nullptr;
    int command_size_ = 4096;
    int precedence_bulk_ = 0;
};

// The date header's text: local time with the zone offset (style 0), GMT
// (1) or UTC (2 or more).
string message_date(int style, long bias_minutes);

// A boundary no other boundary of this process shares.
string make_boundary();

struct MimeType {
    const char* type;
    bool binary;
};
// The type of a file by its name's extension.
MimeType mime_type_of(const char* base_name, bool all_binary, bool text_flag);

// The transports the engine makes. Those whose protocol this build does
// not speak fail to connect and say so.
class UnavailableTransport : public TpClient {
public:
    int open_connection(const char* host, const char* port, const char* cert, int level) override;
    int login(const char*, const char*) override { return 0; }
};

// Transports that rewrite a progress file ("-meter:") during transfers.
class MeteredTransport : public UnavailableTransport {
public:
    explicit MeteredTransport(const string& meter_file) : meter_file(meter_file) {}
    string meter_file;
};

class MyNntpClient : public MeteredTransport {
public:
    using MeteredTransport::MeteredTransport;
    const char* kind() const override { return "NNTP"; }
};

class MyImaptpClient : public MeteredTransport {
public:
    using MeteredTransport::MeteredTransport;
    const char* kind() const override { return "IMAP upload"; }
};

// The message composer: the header block and the MIME body of a message,
// with its attachment lists and composition settings, written into any
// byte sink. A transport puts what its protocol needs in front of the sink
// (dot-stuffing for SMTP and news, a file for message files, a counting
// pass where the size must be known first); the composer itself is the
// same for all of them.
#pragma once

#include <climits>
#include <cstdint>
#include <string>

#include "base/byte_sink.h"
#include "base/lists.h"
#include "base/text_stream.h"
#include "base/text_string.h"

// Who a message is from and to: the text form (comma-separated recipient
// texts) and the list form (one address an element) of send_message and
// send_message_lists.
struct Envelope {
    string from, reply_to, to, cc, bcc, subject, errors_to;
    string content_base;  // the URL a body was fetched from, or empty
    List<string> to_list, cc_list, bcc_list;
};

// Told the percentage of a message written so far.
class ProgressListener {
public:
    virtual ~ProgressListener() = default;
    virtual int progress(int percent) = 0;
};

class MessageComposer {
public:
    MessageComposer() = default;
    MessageComposer(const MessageComposer&) = delete;
    MessageComposer& operator=(const MessageComposer&) = delete;
    ~MessageComposer();

    void set_content_type(const string& type);
    void set_charset(const string& name);
    void set_organization(const string& text);
    void set_sensitivity(const string& text);
    // Attaches a file (related: an inline object of an HTML body); false
    // when it is not a file that exists.
    bool add_attachment(const char* path, const char* location, int related);
    // Empties the lists; with delete_files the files themselves are removed.
    void clear_attachments(int delete_files);
    int32_t attachment_count() const { return attachment_files.count(); }
    int32_t related_count() const { return related_files.count(); }

    // Fixes what would differ between two writes of one message: its date,
    // its boundaries and its Message-ID (whose domain is given). Called
    // before every new message; writing it again gives the same bytes.
    void begin_message(const char* id_domain);
    // Writes the message (header lines and body, no end-of-message line)
    // into out. sink_stuffs: the sink doubles leading dots and repairs line
    // ends itself. 1 when all was written; -1 after a failed write or a
    // header line that cannot be folded (error() says which).
    int write_message(const Envelope& envelope, bool lists, const char* body, size_t length, ByteSink& out,
                      bool sink_stuffs);
    // Whether every header line of the message can be written (folded where
    // needed), before anything is sent: 1, or -1 with error() set.
    int check_headers(const Envelope& envelope, bool lists);
    const std::string& error() const { return error_; }
    // Whether the last message was multipart.
    bool was_multipart() const { return multipart_; }

    // Settings
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
    int news = 0;        // recipients become one "Newsgroups:" line
    int no_archive = 0;  // "X-no-archive: yes" before the Message-ID
    size_t piece_size = 4096;  // attachments are read in pieces of this size

    ListOf attachment_files, attachment_locations;
    ListOf related_files, related_locations;

    // Echo of header lines at a trace level (3 or more: the body too).
    int trace_level = 0;
    TextStream* echo_stream = &report_stream;
    TextStream* warnings = &error_stream;
    ProgressListener* listener = nullptr;

    // Counters of the last message
    uint64_t body_bytes = 0;
    uint64_t total_size = 0;
    uint64_t progress_count = 0;

private:
    int line(const char* pattern, ...) __attribute__((format(printf, 2, 3)));
    int header(const char* name, const char* value, bool address_mode);
    int header_line(const std::string& text);
    // stuff: the leading dots doubled here when the sink does not do it;
    // clean_lines: base64 text, which needs no stuffing.
    int body(const char* data, size_t length, bool stuff = false, bool clean_lines = false);
    int body(const std::string& data) { return body(data.data(), data.size()); }
    int result() const { return out_->failed() ? -1 : 1; }
    void report_progress();
    string header_value(const char* value, bool address_mode) const;

    // Precedence, recipient and header lines: everything before the body.
    int write_header_block(const Envelope& e, bool lists);
    int write_recipient_lines(const char* to, const char* cc);
    int write_recipient_lists(const Envelope& e);
    int write_headers(const Envelope& e);
    int write_extra_header();
    int write_body(const char* body, size_t length, const char* content_base);
    int write_single_part(const char* body, size_t length, const char* content_base);
    int write_multipart_body(const char* body, size_t length);
    int write_attachment_part(const string& boundary, const char* path, const char* location);

    ByteSink* out_ = nullptr;
    bool sink_stuffs_ = false;
    bool multipart_ = false;
    std::string error_;
    string date_, boundary_mixed_, boundary_alt_, boundary_related_;
    std::string id_line_;
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

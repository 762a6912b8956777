// The transport base: a connection (host list, firewall text, proxy tunnel,
// implicit TLS) that speaks a protocol with numbered replies and hands
// messages over. The message itself is written by its composer; a
// transport only decides where the composed bytes go and how the message
// ends.
#pragma once

#include <climits>
#include <cstdint>

#include "base/lists.h"
#include "base/text_string.h"
#include "net/connection.h"
#include "send/message_composer.h"

class TpClient : public Connection, public ProgressListener {
public:
    TpClient();
    ~TpClient() override;

    int disconnect() override;                                                                      // 11
    virtual int open_connection(const char* host, const char* port, const char* cert, int level);  // 12
    // The list form: To and Cc from the envelope's lists.
    virtual int send_message_lists(const Envelope& envelope, const char* body, size_t length);     // 13
    // The text form: To and Cc as comma-separated texts.
    virtual int send_message(const Envelope& envelope, const char* body, size_t length);           // 14
    virtual int load_recipients(const char* file);                                                 // 15
    virtual int login(const char* user, const char* password) = 0;                                 // 16
    int progress(int percent) override;                                                            // 17
    virtual int quit();                                                                            // 19
    virtual int read_reply();                                                                      // 20

    virtual const char* kind() const = 0;
    // Makes what was sent safe before its sources are removed: 1, or -1
    // (with the reason in the reply buffer). A file is flushed and closed.
    virtual int complete() { return 1; }

    // The command buffer's size, which is also the piece size of attachments.
    void set_buffer_size(int size);
    void set_trace_level(int level);
    bool add_attachment(const char* path, const char* location, int related)
    {
        return composer.add_attachment(path, location, related);
    }
    void clear_attachments(int delete_files) { composer.clear_attachments(delete_files); }
    int32_t attachment_count() const { return composer.attachment_count(); }
    int32_t related_count() const { return composer.related_count(); }
    uint64_t body_bytes_sent() const { return composer.body_bytes; }

    // Connection
    string host, port;
    string tunnel_host, tunnel_port;
    string firewall;
    int implicit_tls = 0, starttls = 0;
    int limit = INT_MAX;
    int apop = 0;
    int data_sent = 0;
    // The message does not end with a "." line and no reply follows it;
    // nothing in it is dot-stuffed.
    int no_terminator = 0;

    MessageComposer composer;

protected:
    // Composes the message onto the connection, dot-stuffed, then ends it
    // with "." and reads the final reply (without the terminator: as it is).
    int transmit(const Envelope& envelope, bool lists, const char* body, size_t length);
    // The composer's failure (else the text given), in the reply buffer
    // for "Status: ".
    int composer_failure(int result, const char* otherwise = "the message could not be written");
};

// A protocol client's connection: the socket with its TLS layer, the command
// buffer every command is formatted in, an output block that collects what
// is written until a command or a block of a message is complete (so a run
// of small writes never waits on delayed acknowledgements), the last reply
// line, and the echo of the conversation at a trace level. Transports,
// readers and the HTTP client all talk through it.
#pragma once

#include <cstddef>
#include <memory>

#include "base/byte_sink.h"
#include "base/text_stream.h"
#include "net/ssl_sock.h"

class Connection : public SSL_SockClient {
public:
    static constexpr int reply_size = 1024;
    // The most lines one reply may have, and the most bytes of a line that
    // is longer than the reply buffer; past them the reply is refused.
    static constexpr int max_reply_lines = 1000;
    static constexpr size_t max_dropped_line_bytes = 1u << 20;
    static constexpr size_t output_block = 16384;
    static constexpr int min_command_size = 1024;

    Connection() : SSL_SockClient(0, '\n', 0) {}
    ~Connection() override;

    int close() override;

    // The command buffer's size ("-bufsiz", at least min_command_size); it
    // is allocated when first used.
    void set_buffer_size(int size);
    int buffer_size() const { return command_size_; }

    // Formats one command into the command buffer and sends it together
    // with whatever is queued, echoed at a trace level. A command that does
    // not fit the buffer is not sent: -1, and the reply buffer says why.
    int send_command(const char* pattern, ...) __attribute__((format(printf, 2, 3)));
    // The command last formatted (a refused one is gone), to send again.
    string last_command() const { return command_ ? string(command_.get()) : string(); }
    // Bytes to go out with the next flush; a full block is written at once.
    // The count queued, else the failed write's result.
    int queue(const char* data, size_t length);
    // Writes what is queued: 1, or the failed write's result (-1 for none).
    int flush();
    // Queue and flush.
    int send(const char* data, size_t length);

    // One line of at most capacity - 1 bytes into the reply buffer,
    // terminated, echoed at a trace level. The rest of a longer line is read
    // and dropped; a line cut short by a close or a time-out is a failure.
    // The stored length; else the read's result (-1 for a cut line), with
    // the reply emptied and the connection closed.
    int read_reply_line(int capacity = reply_size);

    // Tries the names of a host list (separated by blanks or commas) in turn.
    int connect_host_list(const char* hosts, const char* service);
    // Asks an HTTP proxy for a tunnel to host:port and reads its answer up
    // to the empty line: 1, or -1 when the proxy did not answer with a 2xx
    // status (its status line stays in the reply buffer).
    int open_tunnel(const char* host, const char* port);

    // The conversation on the echo stream when the trace level is set.
    void echo(const char* text, size_t length);

    char reply[reply_size] = "";
    int trace_level = 0;
    TextStream* echo_stream = &report_stream;

private:
    char* command_buffer();

    std::unique_ptr<char[]> command_;
    int command_size_ = 4096;
    std::unique_ptr<char[]> out_;
    size_t out_used_ = 0;
};

// Message bytes into a connection's output block.
class ConnectionSink : public ByteSink {
public:
    explicit ConnectionSink(Connection& connection) : connection_(connection) {}
    void write(const char* data, size_t length) override
    {
        if (!failed() && connection_.queue(data, length) <= 0 && length) fail();
    }

private:
    Connection& connection_;
};

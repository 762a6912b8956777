#include "net/connection.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool is_list_separator(char c) { return c == ' ' || c == ','; }

size_t line_ends(const char* text, size_t length)
{
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) n += text[i] == '\r' || text[i] == '\n';
    return n;
}

}  // namespace

Connection::~Connection() = default;

int Connection::close()
{
    out_used_ = 0;
    return SSL_SockClient::close();
}

void Connection::set_buffer_size(int size)
{
    command_.reset();
    // A smaller "-bufsiz" still leaves room for a whole command line (mail
    // allows 512 bytes), so a command is never refused for want of buffer.
    command_size_ = size <= 0 ? 4096 : size < min_command_size ? min_command_size : size;
}

char* Connection::command_buffer()
{
    if (!command_) command_.reset(new char[static_cast<size_t>(command_size_)]);
    return command_.get();
}

void Connection::echo(const char* text, size_t length)
{
    if (trace_level && echo_stream) echo_stream->write(text, length);
}

int Connection::queue(const char* data, size_t length)
{
    if (!connected()) return -1;
    if (!out_) out_.reset(new char[output_block]);
    if (out_used_ + length > output_block) {
        int r = flush();
        if (r <= 0) return r;
    }
    if (length > output_block) {
        for (size_t done = 0; done < length;) {
            size_t piece = length - done < (1u << 30) ? length - done : (1u << 30);
            int r = write(data + done, static_cast<int>(piece));
            if (r <= 0) return r == 0 ? -1 : r;
            done += static_cast<size_t>(r);
        }
    } else {
        std::memcpy(out_.get() + out_used_, data, length);
        out_used_ += length;
    }
    return static_cast<int>(length > INT_MAX ? INT_MAX : (length ? length : 1));
}

int Connection::flush()
{
    if (!connected()) return -1;
    size_t done = 0;
    while (done < out_used_) {
        int r = write(out_.get() + done, static_cast<int>(out_used_ - done));
        if (r <= 0) {
            out_used_ = 0;
            return r == 0 ? -1 : r;
        }
        done += static_cast<size_t>(r);
    }
    out_used_ = 0;
    return 1;
}

int Connection::send(const char* data, size_t length)
{
    int r = queue(data, length);
    if (r <= 0) return r;
    return flush();
}

int Connection::send_command(const char* pattern, ...)
{
    char* buffer = command_buffer();
    va_list args;
    va_start(args, pattern);
    int n = std::vsnprintf(buffer, static_cast<size_t>(command_size_), pattern, args);
    va_end(args);
    if (n < 0) return -1;
    if (n >= command_size_) {
        // Cut, it would lose its line end and run into the next command.
        buffer[0] = 0;
        std::snprintf(reply, sizeof reply, "command longer than the buffer (%d bytes)", command_size_);
        return -1;
    }
    // A value with a line end of its own would end the command and start
    // another ("RCPT TO:<x\nDATA>"): such a command is not sent.
    if (line_ends(buffer, static_cast<size_t>(n)) != line_ends(pattern, std::strlen(pattern))) {
        buffer[0] = 0;
        std::snprintf(reply, sizeof reply, "a value in the command holds a line end");
        return -1;
    }
    echo(buffer, static_cast<size_t>(n));
    return send(buffer, static_cast<size_t>(n));
}

int Connection::read_reply_line(int capacity)
{
    if (capacity > reply_size) capacity = reply_size;
    if (!connected()) {
        reply[0] = 0;
        return -1;
    }
    int n = read_line(reply, capacity - 1);
    if (n <= 0) {
        reply[0] = 0;
        close();
        return n;
    }
    reply[n] = 0;
    if (reply[n - 1] != terminator && n < capacity - 1) {
        // Cut by a close or a time-out: half a reply is no reply ("2", and
        // the "50 ok" that follows would answer the next command).
        reply[0] = 0;
        close();
        return -1;
    }
    // A NUL would hide the rest of the line from whoever reads the text.
    for (int i = 0; i < n; ++i)
        if (reply[i] == 0) reply[i] = ' ';
    if (reply[n - 1] != terminator) {
        // Too long for the buffer: the rest of the line is not a reply.
        char rest[reply_size];
        size_t dropped = 0;
        int m;
        do {
            m = read_line(rest, sizeof rest);
            dropped += m > 0 ? static_cast<size_t>(m) : 0;
        } while (m > 0 && rest[m - 1] != terminator && dropped < max_dropped_line_bytes);
        if (m <= 0 || rest[m - 1] != terminator) {
            reply[0] = 0;
            close();
            return m < 0 ? m : -1;
        }
    }
    if (trace_level && echo_stream) {
        size_t shown = std::strcspn(reply, "\r\n");  // the reply's own line end is not echoed twice
        echo_stream->write(reply, shown);
        *echo_stream << "\r\n";
    }
    return n;
}

int Connection::connect_host_list(const char* hosts, const char* service)
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

int Connection::open_tunnel(const char* target_host, const char* target_port)
{
    int r = send_command("CONNECT %s:%s HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", target_host, target_port);
    if (r <= 0) return r;
    // The status line first: only a 2xx opens the tunnel. Whatever else
    // answered must not be taken for the server behind it.
    if (read_reply_line() <= 0) return -1;
    int status = 0;
    if (std::sscanf(reply, "HTTP/%*d.%*d %d", &status) != 1 || status < 200 || status > 299) {
        close();
        return -1;
    }
    char line[reply_size];
    for (int lines = 0; lines < max_reply_lines; ++lines) {
        int n = read_line(line, sizeof line - 1);
        if (n <= 0) break;
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
        if (n == 0) break;
    }
    return 1;
}

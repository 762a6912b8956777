// The socket layer under every network client: one IPv4 socket, a 1500-byte
// receive buffer, lines ended by a terminator byte, waits bounded by a
// time-out in seconds, failures as negated Windows Sockets numbers.
#pragma once

#include <cstdint>

#include "base/text_stream.h"
#include "base/text_string.h"
#include "platform/sockets.h"

// Flag bits given at construction.
enum SimSockFlags {
    sock_nonblocking = 0x1,
    sock_datagram = 0x10,
    sock_multicast = 0x20,   // implies datagram
    sock_raw = 0x40,
    sock_icmp = 0x100,       // protocol 1 for a raw socket
    sock_igmp = 0x200,       // protocol 2 for a raw socket
    sock_connected_datagram = 0x400,  // implies datagram
};

class SimSock {
public:
    static constexpr int buffer_size = 65536;

    SimSock(int flags, char terminator, int user_word);
    SimSock(const SimSock&) = delete;
    SimSock& operator=(const SimSock&) = delete;
    virtual ~SimSock();

    virtual int wait_readable(long seconds, long microseconds);  // 1
    virtual int read(char* buffer, int n);                       // 2
    virtual int read_line(char* buffer, int capacity);           // 3
    virtual int peek_byte(char& out);                            // 4
    virtual int peek(char* buffer, int n);                       // 5
    virtual int write(const char* data, int n);                  // 6
    virtual int close();                                         // 7
    virtual int pending();                                       // 8
    virtual int receive_more();                                  // 9

    int wait_read_or_error(long seconds, long microseconds);
    int wait_write_or_error(long seconds, long microseconds);
    int set_multicast_options(int ttl, int loop);
    int join_multicast(const char* group, const char* service, const char* interface_address);

    bool connected() const { return open_count > 0; }
    // The time-out in seconds; on a connected socket it also bounds a send
    // that finds no room and a read inside a library (TLS).
    void set_timeout(int seconds);

    int32_t port = 0;
    int32_t flags;
    int32_t user_word;
    int32_t open_count = 0;
    SocketHandle handle = invalid_socket;
    int32_t timeout = -1;
    int32_t tls = 0;
    int32_t ipv6 = 0;
    int32_t buffered = 0;
    char* read_position = nullptr;
    char terminator;
    uint32_t bytes_received = 0, bytes_sent = 0;
    uint32_t receive_calls = 0, send_calls = 0, lines_read = 0;
    char receive_buffer[buffer_size];
    // Where the socket's own failure texts go (the error stream unless the
    // owner says otherwise); never straight to the process's stderr, which
    // inside the library belongs to the host.
    TextStream* diagnostics = &error_stream;

protected:
    int wait(int mode, long seconds, long microseconds);
    // Whether a whole line is already in the receive buffer.
    bool terminator_buffered() const;
    void empty_buffer()
    {
        buffered = 0;
        read_position = nullptr;
    }
    // Takes up to n buffered bytes.
    int take_buffered(char* out, int n);
    // Copies buffered bytes into buffer from stored on; true once the
    // terminator was copied (a line is counted) or capacity is reached.
    bool take_line(char* buffer, int capacity, int& stored);
    // Decrypted or otherwise ready bytes that the socket itself does not
    // show (a TLS layer's records); none here.
    virtual bool bytes_ready() { return false; }
    // A failure text of the socket layer, to the diagnostics stream.
    void report_failure(const char* pattern, ...) __attribute__((format(printf, 2, 3)));
    // One recv into the empty buffer: >0 bytes, 0 close, <0 negated error.
    long fill_buffer();
};

class SockClient : public SimSock {
public:
    SockClient(int flags, char terminator, int user_word) : SimSock(flags, terminator, user_word) {}
    ~SockClient() override;

    virtual int connect(const char* host, const char* service);  // 10
    virtual int disconnect();                                    // 11
    // Slot 10 with any non-negative result made 1.
    int connect(const string& host, const string& service);

    string host_name;
    string service_name;
};

// The IPv4 address (network order) of a dotted text or a host name.
int resolve_host(const char* name, uint32_t& address);
// The port of a number or a service name (host order); 0 when neither.
int resolve_port(const char* service);
const char* local_host_name();
// The name of the local end of a connected socket.
string local_address_name(const SimSock& connected);

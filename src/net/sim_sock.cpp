#include "net/sim_sock.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sockets.h"

namespace {

// How many socket objects this process has made; the first would start the
// socket library on the other platform, here there is nothing to start.
int socket_objects = 0;

}  // namespace

SimSock::SimSock(int flags_in, char terminator_in, int user_word_in)
    : flags(flags_in & ~0x2), user_word(user_word_in), terminator(terminator_in)
{
    if (flags & (sock_multicast | sock_connected_datagram)) flags |= sock_datagram;
    ++socket_objects;
}

SimSock::~SimSock()
{
    if (handle != invalid_socket) socket_close(handle);
}

bool SimSock::terminator_buffered() const
{
    return buffered > 0 && std::memchr(read_position, static_cast<unsigned char>(terminator), buffered) != nullptr;
}

int SimSock::wait(int mode, long seconds, long microseconds)
{
    if (!connected()) return -1;
    if ((mode & wait_for_read) && (terminator_buffered() || bytes_ready())) return 1;
    return socket_wait(handle, mode, seconds, microseconds);
}

int SimSock::wait_readable(long seconds, long microseconds) { return wait(wait_for_read, seconds, microseconds); }

int SimSock::wait_read_or_error(long seconds, long microseconds)
{
    return wait(wait_for_read | wait_for_error, seconds, microseconds);
}

int SimSock::wait_write_or_error(long seconds, long microseconds)
{
    return wait(wait_for_write | wait_for_error, seconds, microseconds);
}

int SimSock::take_buffered(char* out, int n)
{
    int k = buffered < n ? buffered : n;
    if (k <= 0) return 0;
    std::memcpy(out, read_position, static_cast<size_t>(k));
    read_position += k;
    buffered -= k;
    if (buffered == 0) read_position = nullptr;
    return k;
}

long SimSock::fill_buffer()
{
    long r = socket_recv(handle, receive_buffer, buffer_size, false);
    if (r > 0) {
        read_position = receive_buffer;
        buffered = static_cast<int32_t>(r);
        bytes_received += static_cast<uint32_t>(r);
        ++receive_calls;
        return r;
    }
    return r == 0 ? 0 : -socket_error();
}

int SimSock::read(char* buffer, int n)
{
    if (!connected()) return -1;
    int delivered = take_buffered(buffer, n);
    bool waits = !(flags & sock_nonblocking) && timeout >= 0;
    while (delivered < n) {
        if (waits) {
            int w = wait_read_or_error(timeout, 0);
            if (w <= 0) return delivered ? delivered : w;
        }
        long r = fill_buffer();
        if (r == 0) return delivered;
        if (r < 0) {
            if (r == -wsa_interrupted) continue;
            if (r == -wsa_would_block || delivered) return delivered;
            return static_cast<int>(r);
        }
        delivered += take_buffered(buffer + delivered, n - delivered);
    }
    return delivered;
}

bool SimSock::take_line(char* buffer, int capacity, int& stored)
{
    if (buffered > 0 && stored < capacity) {
        int room = capacity - stored;
        int span = buffered < room ? buffered : room;
        const void* end = std::memchr(read_position, terminator, static_cast<size_t>(span));
        int n = end ? static_cast<int>(static_cast<const char*>(end) - read_position) + 1 : span;
        std::memcpy(buffer + stored, read_position, static_cast<size_t>(n));
        read_position += n;
        buffered -= n;
        stored += n;
        if (buffered == 0) read_position = nullptr;
        if (end) {
            ++lines_read;
            return true;
        }
    }
    if (buffered == 0) read_position = nullptr;
    return stored >= capacity;
}

int SimSock::read_line(char* buffer, int capacity)
{
    if (!connected()) return -1;
    int stored = 0;
    bool waits = (flags & sock_nonblocking) || timeout >= 0;
    for (;;) {
        if (take_line(buffer, capacity, stored)) return stored;
        if (waits) {
            int w = wait_read_or_error(timeout, 0);
            if (w <= 0) return stored;
        }
        long r = fill_buffer();
        if (r == 0) return stored;  // an orderly close: what was stored, or 0
        if (r < 0) {
            if (r == -wsa_interrupted) continue;
            if (r == -wsa_would_block) return -1;
            return static_cast<int>(r);
        }
    }
}

int SimSock::peek_byte(char& out)
{
    if (!connected()) return -1;
    for (;;) {
        if (buffered > 0) {
            out = *read_position;
            return 1;
        }
        if (!(flags & sock_nonblocking) && timeout >= 0 && wait_read_or_error(timeout, 0) <= 0) return -1;
        long r = fill_buffer();
        if (r > 0) continue;
        if (r == 0) return 0;
        if (r == -wsa_interrupted) continue;
        return r == -wsa_would_block ? -1 : static_cast<int>(r);
    }
}

int SimSock::peek(char* buffer, int n)
{
    if (!connected()) return -1;
    int copied = buffered < n ? buffered : n;
    if (copied > 0) std::memcpy(buffer, read_position, static_cast<size_t>(copied));
    if (copied >= n) return copied;
    for (;;) {
        if (!(flags & sock_nonblocking) && timeout >= 0 && wait_read_or_error(timeout, 0) <= 0) return -1;
        long r = socket_recv(handle, buffer + copied, static_cast<size_t>(n - copied), true);
        if (r > 0) return copied + static_cast<int>(r);
        if (r == 0) return -wsa_connection_reset;
        int error = socket_error();
        if (error == wsa_interrupted) continue;
        return error == wsa_would_block ? copied : -error;
    }
}

int SimSock::write(const char* data, int n)
{
    if (!connected()) return -1;
    int sent = 0;
    while (sent < n) {
        long r = socket_send(handle, data + sent, static_cast<size_t>(n - sent));
        if (r < 0) {
            int error = socket_error();
            if (error != wsa_would_block && error != wsa_interrupted) return -error;
            r = 0;
        } else {
            bytes_sent += static_cast<uint32_t>(r);
            ++send_calls;
        }
        sent += static_cast<int>(r);
        if (sent < n && wait_write_or_error(timeout, 0) <= 0) return -1;
    }
    return n;
}

int SimSock::close()
{
    if (connected()) {
        socket_shutdown(handle);
        socket_close(handle);
        handle = invalid_socket;
    }
    open_count = 0;
    empty_buffer();
    return 1;
}

int SimSock::pending() { return buffered; }

void SimSock::set_timeout(int seconds)
{
    timeout = seconds;
    if (connected() && timeout >= 0) socket_set_io_timeout(handle, timeout);
}

int SimSock::receive_more()
{
    if (!connected()) return -1;
    if (buffered > 0 && read_position != receive_buffer) std::memmove(receive_buffer, read_position, buffered);
    read_position = receive_buffer;
    int room = buffer_size - buffered;
    for (;;) {
        long r = room > 0 ? socket_recv(handle, receive_buffer + buffered, static_cast<size_t>(room), false) : 0;
        if (r > 0) {
            buffered += static_cast<int32_t>(r);
            bytes_received += static_cast<uint32_t>(r);
            ++receive_calls;
            return static_cast<int>(r);
        }
        if (buffered == 0) read_position = nullptr;
        if (r == 0) return 0;
        int error = socket_error();
        if (error == wsa_interrupted) continue;
        return error == wsa_would_block ? -1 : -error;
    }
}

int SimSock::set_multicast_options(int ttl, int loop)
{
    if (!(flags & sock_datagram)) return -1;
    socket_set_ip_option(handle, ip_multicast_loop, &loop, sizeof loop);
    return socket_set_ip_option(handle, ip_multicast_ttl, &ttl, sizeof ttl);
}

int SimSock::join_multicast(const char* group, const char* service, const char* interface_address)
{
    (void)service;
    if (!(flags & sock_datagram)) return -1;
    uint32_t group_address;
    if (!resolve_host(group, group_address)) return -1;
    uint32_t membership[2] = {group_address, interface_address ? parse_ipv4(interface_address) : 0u};
    return socket_set_ip_option(handle, ip_add_membership, membership, sizeof membership);
}

SockClient::~SockClient()
{
    if (connected()) close();
}

int SockClient::disconnect() { return close(); }

int SockClient::connect(const string& host, const string& service)
{
    int result = connect(host.c_str(), service.c_str());
    return result >= 0 ? 1 : result;
}

void SimSock::report_failure(const char* pattern, ...)
{
    char text[512];
    va_list args;
    va_start(args, pattern);
    int n = std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    if (n <= 0) return;
    size_t length = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
    if (diagnostics) diagnostics->write(text, length);
}

int SockClient::connect(const char* host, const char* service)
{
    if (connected()) disconnect();
    int host_port = resolve_port(service);
    uint16_t net_port = network_order16(static_cast<uint16_t>(host_port));
    SocketKind kind = (flags & sock_raw) ? SocketKind::raw : (flags & sock_datagram) ? SocketKind::datagram : SocketKind::stream;
    int protocol = (flags & sock_icmp) ? 1 : (flags & sock_igmp) ? 2 : 0;
    bool bind_only = (flags & sock_datagram) && !(flags & sock_connected_datagram);

    for (int attempt = 1;; ++attempt) {
        uint32_t address;
        if (!resolve_host(host, address) && !resolve_host(host, address)) return -1;
        SocketHandle previous = handle;
        handle = socket_open(kind, protocol);
        if (handle == invalid_socket) {
            report_failure("*** bind(IPv4) to fd: %lld, port: %d failed\n", static_cast<long long>(previous),
                           host_port);
            return -1;
        }
        if (bind_only) {
            if (socket_set_reuse_address(handle) != 0 || socket_bind_any(handle, net_port) != 0) {
                int error = socket_error();
                report_failure("*** bind(IPv4) to fd: %d, port: %d, failed: %d\n", handle, host_port, error);
                socket_close(handle);
                handle = invalid_socket;
                return -error;
            }
        } else if (socket_connect(handle, address, net_port, timeout) != 0) {
            int error = socket_error();
            socket_close(handle);
            if (error == wsa_address_in_use && attempt < 1000) continue;
            report_failure("*** connect(IPv4) to '%s' fd %d failed: %d\n", host ? host : "", handle, error);
            handle = invalid_socket;
            return -error;
        }
        break;
    }
    open_count = 1;
    port = host_port;
    socket_set_nonblocking(handle, (flags & sock_nonblocking) != 0);
    // A peer that stops reading must not hold a send for ever.
    if (timeout >= 0) socket_set_io_timeout(handle, timeout);
    host_name = host;
    service_name = service;
    empty_buffer();
    return 1;
}

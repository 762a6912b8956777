#include "platform/sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

thread_local int last_error = 0;

int fail()
{
    last_error = map_socket_error(errno);
    return -1;
}

struct ErrorMapping {
    int posix;
    int wsa;
};

const ErrorMapping error_mappings[] = {
    {EINTR, 10004},        {EWOULDBLOCK, 10035}, {EAGAIN, 10035},       {EINPROGRESS, 10036},
    {EADDRINUSE, 10048},   {ENETUNREACH, 10051}, {ECONNABORTED, 10053}, {ECONNRESET, 10054},
    {EPIPE, 10054},        {ENOTCONN, 10057},    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},
    {EHOSTUNREACH, 10065},
};

sockaddr_in ipv4(uint32_t address, uint16_t port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    a.sin_port = port;
    return a;
}

}  // namespace

int map_socket_error(int posix_error)
{
    for (const ErrorMapping& m : error_mappings)
        if (m.posix == posix_error) return m.wsa;
    return 10000 + posix_error;
}

int socket_error() { return last_error; }

SocketHandle socket_open(SocketKind kind, int protocol)
{
    int type = kind == SocketKind::raw ? SOCK_RAW : kind == SocketKind::datagram ? SOCK_DGRAM : SOCK_STREAM;
    int s = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    return s >= 0 ? s : fail();
}

int socket_close(SocketHandle s) { return ::close(s) == 0 ? 0 : fail(); }

int socket_shutdown(SocketHandle s) { return ::shutdown(s, SHUT_RDWR) == 0 ? 0 : fail(); }

int socket_connect(SocketHandle s, uint32_t address, uint16_t port, int timeout_seconds)
{
    sockaddr_in a = ipv4(address, port);
    if (timeout_seconds < 0) {
        for (;;) {
            if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return 0;
            if (errno != EINTR) return fail();
        }
    }
    if (socket_set_nonblocking(s, true) != 0) return -1;
    int r = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (r != 0 && errno == EINPROGRESS) {
        int w = socket_wait(s, wait_for_write, timeout_seconds, 0);
        if (w == 0) {
            errno = ETIMEDOUT;
            r = -1;
        } else if (w > 0) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length);
            errno = error;
            r = error ? -1 : 0;
        }
    }
    if (r != 0) return fail();
    return socket_set_nonblocking(s, false);
}

int socket_bind_any(SocketHandle s, uint16_t port)
{
    sockaddr_in a = ipv4(htonl(INADDR_ANY), port);
    return ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : fail();
}

int socket_set_reuse_address(SocketHandle s)
{
    int one = 1;
    return ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 ? 0 : fail();
}

int socket_set_nonblocking(SocketHandle s, bool on)
{
    int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0) return fail();
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(s, F_SETFL, flags) == 0 ? 0 : fail();
}

int socket_set_io_timeout(SocketHandle s, int seconds)
{
    timeval tv{seconds < 0 ? 0 : seconds, 0};
    if (::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return fail();
    return ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0 ? 0 : fail();
}

long socket_send(SocketHandle s, const void* data, size_t length)
{
    ssize_t n = ::send(s, data, length, MSG_NOSIGNAL);
    return n >= 0 ? static_cast<long>(n) : fail();
}

long socket_recv(SocketHandle s, void* buffer, size_t length, bool peek)
{
    ssize_t n = ::recv(s, buffer, length, peek ? MSG_PEEK : 0);
    return n >= 0 ? static_cast<long>(n) : fail();
}

int socket_wait(SocketHandle s, int mode, long seconds, long microseconds)
{
    if (s < 0 || s >= FD_SETSIZE) {
        last_error = 10038;  // not a socket select can take
        return -1;
    }
    fd_set reads, writes, errors;
    FD_ZERO(&reads);
    FD_ZERO(&writes);
    FD_ZERO(&errors);
    if (mode & wait_for_read) FD_SET(s, &reads);
    if (mode & wait_for_write) FD_SET(s, &writes);
    if (mode & wait_for_error) FD_SET(s, &errors);
    timeval tv{seconds, microseconds};
    int n = ::select(s + 1, &reads, &writes, &errors, seconds < 0 ? nullptr : &tv);
    return n >= 0 ? n : fail();
}

int socket_set_ip_option(SocketHandle s, int option, const void* value, size_t length)
{
    int native;
    unsigned char byte;
    switch (option) {
    case ip_multicast_ttl: native = IP_MULTICAST_TTL; break;
    case ip_multicast_loop: native = IP_MULTICAST_LOOP; break;
    case ip_add_membership: native = IP_ADD_MEMBERSHIP; break;
    default: native = option;
    }
    if ((option == ip_multicast_ttl || option == ip_multicast_loop) && length == sizeof(int)) {
        byte = static_cast<unsigned char>(*static_cast<const int*>(value));
        value = &byte;
        length = 1;
    }
    return ::setsockopt(s, IPPROTO_IP, native, value, static_cast<socklen_t>(length)) == 0 ? 0 : fail();
}

bool socket_local_address(SocketHandle s, uint32_t& address)
{
    sockaddr_in a;
    socklen_t length = sizeof a;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0 || a.sin_family != AF_INET) return false;
    address = a.sin_addr.s_addr;
    return true;
}

uint32_t parse_ipv4(const char* text) { return ::inet_addr(text); }

bool lookup_ipv4(const char* name, uint32_t& address)
{
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) return false;
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

bool lookup_name_of(uint32_t address, char* name, size_t capacity)
{
    sockaddr_in a = ipv4(address, 0);
    return ::getnameinfo(reinterpret_cast<sockaddr*>(&a), sizeof a, name, static_cast<socklen_t>(capacity), nullptr, 0,
                         NI_NAMEREQD) == 0;
}

int lookup_service_port(const char* service)
{
    servent entry, *found = nullptr;
    char work[1024];
    if (::getservbyname_r(service, "tcp", &entry, work, sizeof work, &found) != 0 || !found) return 0;
    return ntohs(static_cast<uint16_t>(found->s_port));
}

bool read_host_name(char* name, size_t capacity)
{
    if (::gethostname(name, capacity) != 0) return false;
    name[capacity - 1] = 0;
    return true;
}

void format_ipv4(uint32_t address, char out[16])
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
    std::snprintf(out, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

uint16_t network_order16(uint16_t value) { return htons(value); }

// IPv4 sockets for the socket layer. Failures return -1 and leave the error
// as a Windows Sockets number (socket_error): connection refused is 10061,
// as callers and scripts have always seen it.
#pragma once

#include <cstddef>
#include <cstdint>

using SocketHandle = int;
constexpr SocketHandle invalid_socket = -1;

// Windows Sockets numbers the engine tests for.
constexpr int wsa_interrupted = 10004;
constexpr int wsa_would_block = 10035;
constexpr int wsa_address_in_use = 10048;
constexpr int wsa_connection_reset = 10054;
constexpr int wsa_timed_out = 10060;
constexpr int wsa_connection_refused = 10061;

enum class SocketKind { stream, datagram, raw };

// The Windows Sockets number for a POSIX errno value.
int map_socket_error(int posix_error);
// The mapped number of the last failed call on this thread.
int socket_error();

SocketHandle socket_open(SocketKind kind, int protocol);
int socket_close(SocketHandle s);
int socket_shutdown(SocketHandle s);
// address and port in network order; a time-out of 0 or more seconds bounds
// the wait for the peer (it fails with 10060), a negative one waits as long
// as the system does.
int socket_connect(SocketHandle s, uint32_t address, uint16_t port, int timeout_seconds = -1);
int socket_bind_any(SocketHandle s, uint16_t port);
int socket_set_reuse_address(SocketHandle s);
int socket_set_nonblocking(SocketHandle s, bool on);
// A time limit for blocking receives and sends (seconds; negative: none).
int socket_set_io_timeout(SocketHandle s, int seconds);
long socket_send(SocketHandle s, const void* data, size_t length);
long socket_recv(SocketHandle s, void* buffer, size_t length, bool peek);

enum WaitMode { wait_for_read = 1, wait_for_write = 2, wait_for_error = 4 };
// select on one socket; negative seconds wait without limit.
int socket_wait(SocketHandle s, int mode, long seconds, long microseconds);

int socket_set_ip_option(SocketHandle s, int option, const void* value, size_t length);
// Options of level IPPROTO_IP by their Windows Sockets 1.1 numbers.
constexpr int ip_multicast_ttl = 10;
constexpr int ip_multicast_loop = 11;
constexpr int ip_add_membership = 12;

// Local address of a socket (network order); false when unknown.
bool socket_local_address(SocketHandle s, uint32_t& address);

// A dotted IPv4 text (inet_addr rules): the address in network order.
uint32_t parse_ipv4(const char* text);
// The first IPv4 address of a host name; false when it has none.
bool lookup_ipv4(const char* name, uint32_t& address);
// The name of an IPv4 address; false when it has none.
bool lookup_name_of(uint32_t address, char* name, size_t capacity);
// The TCP port of a service name (host order); 0 when unknown.
int lookup_service_port(const char* service);
// This machine's name; false when it cannot be read.
bool read_host_name(char* name, size_t capacity);
// A 16-bit value in network order.
uint16_t network_order16(uint16_t value);
// The text "a.b.c.d" of an address in network order.
void format_ipv4(uint32_t address, char out[16]);

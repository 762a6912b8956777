// Loaded into a program with LD_PRELOAD, binds every IPv4 stream socket
// to the loopback address in TAVRIN_SOURCE_ADDRESS before it connects, so
// a test can reach a server from another source address (127.0.0.5, say)
// than the other tests use.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>

extern "C" int connect(int fd, const struct sockaddr* address, socklen_t length)
{
    using Connect = int (*)(int, const struct sockaddr*, socklen_t);
    static Connect real = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
    const char* source = getenv("TAVRIN_SOURCE_ADDRESS");
    if (source && address && address->sa_family == AF_INET) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr(source);
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    return real(fd, address, length);
}

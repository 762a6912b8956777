#include <cctype>
#include <cstdlib>
#include <cstring>

#include "net/sim_sock.h"
#include "platform/sockets.h"

int resolve_host(const char* name, uint32_t& address)
{
    if (name && *name) {
        size_t n = std::strlen(name);
        bool dotted = std::isdigit(static_cast<unsigned char>(name[n - 1])) && std::strchr(name, '.') &&
                      !std::strchr(name, ':');
        if (dotted) {
            address = parse_ipv4(name);
            return 1;
        }
    }
    return name && lookup_ipv4(name, address) ? 1 : 0;
}

int resolve_port(const char* service)
{
    if (!service || !*service) return 0;
    int number = std::atoi(service);
    if (number != 0) return number;
    return lookup_service_port(service);
}

const char* local_host_name()
{
    static char name[256];
    if (!read_host_name(name, sizeof name)) std::strcpy(name, "localhost");
    return name;
}

string local_address_name(const SimSock& connected)
{
    uint32_t address;
    char name[1025];
    if (connected.handle != invalid_socket && socket_local_address(connected.handle, address) &&
        lookup_name_of(address, name, sizeof name))
        return string(name);
    return string(local_host_name());
}

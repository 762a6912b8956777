#include "platform/environment.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

const char* get_env(const char* name) { return std::getenv(name); }

int run_command(const char* command_line) { return std::system(command_line); }

long long monotonic_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleep_ms(unsigned long milliseconds)
{
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(milliseconds / 1000);
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void detach_console() {}

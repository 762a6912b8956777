// A fast SMTP sink for throughput benchmarks: it accepts every command, and
// in DATA reads large blocks, only looking for the end-of-data line.
// Usage: smtp_sink PORT   (serves connections one after another until killed)
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void reply(int s, const char* text) { send(s, text, std::strlen(text), MSG_NOSIGNAL); }

// Reads a command line; false when the peer is gone.
bool read_command(int s, std::string& pending, std::string& line)
{
    char buf[4096];
    for (;;) {
        size_t nl = pending.find('\n');
        if (nl != std::string::npos) {
            line = pending.substr(0, nl + 1);
            pending.erase(0, nl + 1);
            return true;
        }
        ssize_t n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) return false;
        pending.append(buf, static_cast<size_t>(n));
    }
}

// Skips message data up to "\r\n.\r\n"; what follows stays in pending.
bool skip_data(int s, std::string& pending)
{
    static char block[1 << 20];
    std::string tail = "\r\n" + pending;  // the data begins at a line start
    pending.clear();
    for (;;) {
        size_t end = tail.find("\r\n.\r\n");
        if (end != std::string::npos) {
            pending = tail.substr(end + 5);
            return true;
        }
        tail.erase(0, tail.size() > 4 ? tail.size() - 4 : 0);
        ssize_t n = recv(s, block, sizeof block, 0);
        if (n <= 0) return false;
        tail.append(block, static_cast<size_t>(n));
    }
}

void serve(int s)
{
    reply(s, "220 sink ESMTP\r\n");
    std::string pending, line;
    while (read_command(s, pending, line)) {
        if (line.compare(0, 4, "EHLO") == 0) reply(s, "250-sink\r\n250-8BITMIME\r\n250 PIPELINING\r\n");
        else if (line.compare(0, 4, "DATA") == 0) {
            reply(s, "354 go on\r\n");
            if (!skip_data(s, pending)) return;
            reply(s, "250 ok\r\n");
        } else if (line.compare(0, 4, "QUIT") == 0) {
            reply(s, "221 bye\r\n");
            return;
        } else reply(s, "250 ok\r\n");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    int l = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 8) != 0) return 1;
    for (;;) {
        int s = accept(l, nullptr, nullptr);
        if (s < 0) continue;
        serve(s);
        close(s);
    }
}

// A peer on 127.0.0.1 for socket tests: it accepts one connection and plays
// a short script of sends, pauses and reads in a thread of its own.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class LoopbackPeer {
public:
    // script gets the accepted socket; the peer closes it afterwards. Port 0
    // takes a free port.
    explicit LoopbackPeer(std::function<void(int)> script, const char* address = "127.0.0.1", int port = 0)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ::inet_addr(address);
        a.sin_port = htons(static_cast<uint16_t>(port));
        listening_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(listener_, 4) == 0;
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, script] {
            int s = ::accept(listener_, nullptr, nullptr);
            if (s < 0) return;
            script(s);
            ::close(s);
        });
    }
    ~LoopbackPeer()
    {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        if (thread_.joinable()) thread_.join();
    }
    std::string port() const { return std::to_string(port_); }
    // Waits until the script has ended (the other side must have
    // connected, or the wait is for ever).
    void join()
    {
        if (thread_.joinable()) thread_.join();
    }
    // False when the address and port could not be bound.
    bool listening() const { return listening_; }

    static void send_text(int s, const std::string& text) { ::send(s, text.data(), text.size(), MSG_NOSIGNAL); }
    static void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    // Reads exactly n bytes, or what came before the other side closed.
    static std::string receive(int s, size_t n)
    {
        std::string got;
        char buf[65536];
        while (got.size() < n) {
            size_t want = n - got.size() < sizeof buf ? n - got.size() : sizeof buf;
            ssize_t r = ::recv(s, buf, want, 0);
            if (r <= 0) break;
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }

private:
    int listener_;
    int port_ = 0;
    bool listening_ = false;
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on (just freed).
inline std::string closed_port()
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return std::to_string(ntohs(a.sin_port));
}

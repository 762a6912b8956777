// A scripted IMAP server on 127.0.0.1 for reader tests, in a thread of its
// own: it greets, then reads the client's lines one at a time and sends
// what the test's answer function returns for each, keeping every line it
// got. It serves a given number of connections one after the other. Every
// wait has a bound, so a client that misbehaves fails its test instead of
// hanging it.
#pragma once

#include <arpa/inet.h>
#include <cstdio>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class ImapPeer {
public:
    static constexpr int bound_ms = 10000;

    // One line of the client and what the answer function may do with it.
    class Session {
    public:
        std::string line;    // without its CR LF
        int connection = 0;  // 1 for the first
        std::string port;    // the peer's own

        // The first word ("3"), and what follows it ("SELECT \"INBOX\"").
        std::string tag() const { return line.substr(0, line.find(' ')); }
        std::string command() const
        {
            size_t blank = line.find(' ');
            return blank == std::string::npos ? std::string() : line.substr(blank + 1);
        }
        // Whether the command begins with these words.
        bool is(const char* words) const { return command().rfind(words, 0) == 0; }
        std::string ok(const std::string& text = "done") const { return tag() + " OK " + text + "\r\n"; }
        std::string no(const std::string& text = "no") const { return tag() + " NO " + text + "\r\n"; }
        // CAPABILITY (IMAP4rev1 alone), LOGOUT (which ends the connection),
        // and OK for everything else.
        std::string standard()
        {
            if (is("CAPABILITY")) return "* CAPABILITY IMAP4rev1\r\n" + ok();
            if (is("LOGOUT")) {
                closing = true;
                return "* BYE bye\r\n" + ok();
            }
            return ok();
        }
        // Sends at once (for answers too large to build, or in pieces);
        // false when the client has gone.
        bool send(const std::string& text) const
        {
            size_t at = 0;
            while (at < text.size()) {
                ssize_t n = ::send(socket_, text.data() + at, text.size() - at, MSG_NOSIGNAL);
                if (n <= 0) return false;
                at += static_cast<size_t>(n);
            }
            return true;
        }
        // Ends the connection after the answer.
        bool closing = false;

    private:
        friend class ImapPeer;
        int socket_ = -1;
    };

    using Answer = std::function<std::string(Session&)>;

    // "%PORT%" in the greeting stands for the peer's own port.
    explicit ImapPeer(Answer answer, std::string greeting = "* OK IMAP4rev1 ready\r\n", int connections = 1)
        : answer_(std::move(answer)), greeting_(std::move(greeting)), connections_(connections)
    {
        if (::pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(listener_, 8) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
        size_t at = greeting_.find("%PORT%");
        if (at != std::string::npos) greeting_.replace(at, 6, std::to_string(port_));
        thread_ = std::thread([this] { run(); });
    }
    ~ImapPeer()
    {
        if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
        join();
        ::close(listener_);
        if (wake_[0] >= 0) ::close(wake_[0]);
        if (wake_[1] >= 0) ::close(wake_[1]);
    }
    ImapPeer(const ImapPeer&) = delete;
    ImapPeer& operator=(const ImapPeer&) = delete;

    std::string port() const { return std::to_string(port_); }
    // Every line got so far, over all connections.
    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // The lines whose command begins with these words.
    std::vector<std::string> lines_with(const std::string& words)
    {
        std::vector<std::string> found;
        for (const std::string& l : lines()) {
            size_t blank = l.find(' ');
            if (blank != std::string::npos && l.compare(blank + 1, words.size(), words) == 0) found.push_back(l);
        }
        return found;
    }
    int connections_served()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return served_;
    }
    // Waits until every connection was served (or the bound ran out).
    void join()
    {
        if (thread_.joinable()) thread_.join();
    }

private:
    // Until fd is readable (true), or the peer is stopped or the bound runs out.
    bool readable(int fd)
    {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        return ::poll(p, 2, bound_ms) > 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR)) && !(p[1].revents & POLLIN);
    }

    void run()
    {
        for (int n = 1; n <= connections_ && port_; ++n) {
            if (!readable(listener_)) return;
            int s = ::accept(listener_, nullptr, nullptr);
            if (s < 0) return;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                served_ = n;
            }
            timeval tv{bound_ms / 1000, 0};
            ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
            serve(s, n);
            ::close(s);
        }
    }

    void serve(int s, int connection)
    {
        Session session;
        session.socket_ = s;
        session.connection = connection;
        session.port = std::to_string(port_);
        if (!session.send(greeting_)) return;
        std::string pending;
        for (;;) {
            size_t end;
            while ((end = pending.find('\n')) == std::string::npos) {
                char buf[4096];
                if (!readable(s)) return;
                ssize_t n = ::recv(s, buf, sizeof buf, 0);
                if (n <= 0) return;
                pending.append(buf, static_cast<size_t>(n));
            }
            session.line = pending.substr(0, end && pending[end - 1] == '\r' ? end - 1 : end);
            pending.erase(0, end + 1);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                lines_.push_back(session.line);
            }
            if (!session.send(answer_(session)) || session.closing) return;
        }
    }

    Answer answer_;
    std::string greeting_;
    int connections_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::mutex mutex_;
    std::vector<std::string> lines_;
    int served_ = 0;
    std::thread thread_;
};

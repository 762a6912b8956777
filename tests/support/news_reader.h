// A minimal NNTP reader for tests: one connection to a news server on
// 127.0.0.1, commands and their reply lines, articles read back with the
// dot-stuffing undone. Every read waits at most ten seconds, so a server
// that stops answering fails the test instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

class NewsReader {
public:
    explicit NewsReader(const std::string& port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval limit{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
        a.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) greeting_ = line();
    }
    ~NewsReader()
    {
        if (fd_ >= 0) {
            if (!greeting_.empty()) command("QUIT");
            ::close(fd_);
        }
    }
    NewsReader(const NewsReader&) = delete;
    NewsReader& operator=(const NewsReader&) = delete;

    // The server's first line, empty when the connection failed.
    const std::string& greeting() const { return greeting_; }

    // Sends one command line and returns the reply line (without CR LF).
    std::string command(const std::string& text)
    {
        send_all(text + "\r\n");
        return line();
    }
    // MODE READER, then AUTHINFO USER and PASS; the last reply line.
    std::string login(const std::string& user, const std::string& password)
    {
        command("MODE READER");
        std::string reply = command("AUTHINFO USER " + user);
        if (reply.rfind("381", 0) != 0) return reply;
        return command("AUTHINFO PASS " + password);
    }
    // Sends an article (lines ending in CR LF) after a 340, stuffing the
    // dots; returns the POST reply when it is not 340, else the final one
    // (the POST reply then goes to first).
    std::string post(const std::string& article, std::string* first = nullptr)
    {
        std::string reply = command("POST");
        if (first) *first = reply;
        if (reply.rfind("340", 0) != 0) return reply;
        std::string wire;
        size_t at = 0;
        while (at < article.size()) {
            size_t end = article.find("\r\n", at);
            end = end == std::string::npos ? article.size() : end + 2;
            if (article[at] == '.') wire += '.';
            wire.append(article, at, end - at);
            at = end;
        }
        if (wire.size() < 2 || wire.compare(wire.size() - 2, 2, "\r\n") != 0) wire += "\r\n";
        send_all(wire + ".\r\n");
        return line();
    }
    // The article named by number (after GROUP) or by <message-id>, its
    // lines ending in CR LF and unstuffed; reply gets the 220 line (or the
    // refusal, when the text is empty).
    std::string article(const std::string& which, std::string* reply = nullptr)
    {
        std::string first = command("ARTICLE " + which);
        if (reply) *reply = first;
        if (first.rfind("220", 0) != 0) return "";
        return block();
    }
    // GROUP's reply fields: count, low, high (all -1 when refused).
    struct Group {
        long count = -1, low = -1, high = -1;
    };
    Group group(const std::string& name)
    {
        Group g;
        std::string reply = command("GROUP " + name);
        if (reply.rfind("211 ", 0) == 0) std::sscanf(reply.c_str(), "211 %ld %ld %ld", &g.count, &g.low, &g.high);
        return g;
    }

private:
    void send_all(const std::string& text)
    {
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }
    // One line without its CR LF; empty at the end of the connection.
    std::string line()
    {
        std::string text;
        for (;;) {
            size_t lf = buffer_.find('\n');
            if (lf != std::string::npos) {
                text = buffer_.substr(0, lf);
                buffer_.erase(0, lf + 1);
                if (!text.empty() && text.back() == '\r') text.pop_back();
                return text;
            }
            char chunk[8192];
            ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                ended_ = true;
                text.swap(buffer_);
                return text;
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    // A multi-line block up to the lone ".", unstuffed, lines ending in CR LF.
    std::string block()
    {
        std::string text;
        for (int lines = 0; lines < 1000000; ++lines) {
            std::string l = line();
            if (l == ".") return text;
            if (ended_) return text + "<connection ended>";
            if (!l.empty() && l[0] == '.') l.erase(0, 1);
            text += l + "\r\n";
        }
        return text;
    }
    int fd_ = -1;
    bool ended_ = false;
    std::string greeting_, buffer_;
};

// The parts of an article text (CR LF lines): the header lines (folded
// lines joined), one value lookup, and the body.
namespace news {

inline std::string head(const std::string& article) { return article.substr(0, article.find("\r\n\r\n") + 2); }

inline std::string body(const std::string& article)
{
    size_t at = article.find("\r\n\r\n");
    return at == std::string::npos ? "" : article.substr(at + 4);
}

// Every header line whose name is name (case-insensitive), unfolded, in order.
inline std::vector<std::string> header_lines(const std::string& article, const std::string& name)
{
    std::vector<std::string> found;
    std::string h = head(article);
    size_t at = 0;
    while (at < h.size()) {
        size_t end = h.find("\r\n", at);
        if (end == std::string::npos) end = h.size();
        std::string l = h.substr(at, end - at);
        at = end + 2;
        while (at < h.size() && (h[at] == ' ' || h[at] == '\t')) {
            size_t next = h.find("\r\n", at);
            if (next == std::string::npos) next = h.size();
            l += h.substr(at, next - at);
            at = next + 2;
        }
        if (l.size() > name.size() && l[name.size()] == ':' && strncasecmp(l.c_str(), name.c_str(), name.size()) == 0)
            found.push_back(l);
    }
    return found;
}

}  // namespace news

// A TLS server on 127.0.0.1 for socket tests, in a thread of its own: it
// accepts one connection, shakes hands with a self-signed certificate made
// in memory, plays a script (each write is one TLS record, so a test decides
// where records end), then sends close_notify and closes. Every wait has a
// bound, so a client that misbehaves fails its test instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

class TlsPeer {
public:
    // How long the peer waits for anything: the client, the test, a read.
    static constexpr int bound_ms = 10000;

    // What a script works with: the TLS connection and the test's signal.
    class Session {
    public:
        // One SSL_write, so one record (up to 16 KB); false when it failed.
        bool write(const std::string& chunk)
        {
            return chunk.empty() || SSL_write(ssl_, chunk.data(), static_cast<int>(chunk.size())) ==
                                        static_cast<int>(chunk.size());
        }
        // Exactly n bytes from the client, or what came before it closed.
        std::string read(size_t n)
        {
            std::string got;
            char buf[16384];
            while (got.size() < n) {
                int want = static_cast<int>(n - got.size() < sizeof buf ? n - got.size() : sizeof buf);
                int r = SSL_read(ssl_, buf, want);
                if (r <= 0) break;
                got.append(buf, static_cast<size_t>(r));
            }
            return got;
        }
        // Up to and including the next '\n', or what came before it closed.
        std::string read_line()
        {
            std::string got;
            char c;
            while (SSL_read(ssl_, &c, 1) == 1) {
                got.push_back(c);
                if (c == '\n') break;
            }
            return got;
        }
        // Until the test calls go_on() (true), or the bound runs out or the
        // peer is being destroyed (false).
        bool wait_go_on(int ms = bound_ms) { return peer_.wait_go_on(ms); }
        static void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
        // Ends the connection with a reset: no close_notify, no orderly close.
        void reset() { reset_ = true; }
        // Ends the connection with an orderly TCP close but no close_notify,
        // as a peer that cuts a TLS stream short would.
        void cut() { cut_ = true; }

    private:
        friend class TlsPeer;
        Session(TlsPeer& peer, SSL* ssl) : peer_(peer), ssl_(ssl) {}
        TlsPeer& peer_;
        SSL* ssl_;
        bool reset_ = false;
        bool cut_ = false;
    };

    using Script = std::function<void(Session&)>;

    // A clear-text exchange before the handshake (a server's side of a
    // STARTTLS dialogue) on the accepted socket; false ends the connection
    // without TLS.
    using ClearPart = std::function<bool(int socket)>;

    // max_version: a protocol version such as TLS1_2_VERSION to stop at; 0
    // lets the two sides agree on the highest they share. in_the_clear is
    // sent before the handshake (as a server answering STARTTLS would, or
    // one injecting lines there), then clear_part runs when it is given.
    explicit TlsPeer(Script script, int max_version = 0, std::string in_the_clear = "", ClearPart clear_part = nullptr)
    {
        if (::pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(listener_, 1) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, script, max_version, in_the_clear, clear_part] {
            run(script, max_version, in_the_clear, clear_part);
        });
    }
    // Writes each chunk as one record, then closes.
    explicit TlsPeer(std::vector<std::string> chunks)
        : TlsPeer([chunks](Session& s) {
              for (const std::string& c : chunks)
                  if (!s.write(c)) return;
          })
    {
    }
    ~TlsPeer()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
        join();
        ::close(listener_);
        if (wake_[0] >= 0) ::close(wake_[0]);
        if (wake_[1] >= 0) ::close(wake_[1]);
    }
    TlsPeer(const TlsPeer&) = delete;
    TlsPeer& operator=(const TlsPeer&) = delete;

    std::string port() const { return std::to_string(port_); }
    // Lets a script's wait_go_on() return.
    void go_on()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            told_ = true;
        }
        changed_.notify_all();
    }
    // Waits until the script has ended and the connection is closed.
    void join()
    {
        if (thread_.joinable()) thread_.join();
    }
    // Whether the handshake succeeded (read it after join()).
    bool handshake_done() const { return handshake_done_; }

private:
    // The server's key and self-signed certificate, made once per process.
    struct Identity {
        SSL_CTX* context = nullptr;
        Identity()
        {
            EVP_PKEY* key = EVP_EC_gen("P-256");
            X509* cert = X509_new();
            if (!key || !cert) return;
            X509_set_version(cert, 2);
            ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
            X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
            X509_gmtime_adj(X509_getm_notAfter(cert), 2 * 24 * 3600);
            X509_set_pubkey(cert, key);
            X509_NAME* name = X509_get_subject_name(cert);
            X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>("mail.test.example"), -1, -1, 0);
            X509_set_issuer_name(cert, name);
            context = SSL_CTX_new(TLS_server_method());
            if (context && X509_sign(cert, key, EVP_sha256()) > 0 && SSL_CTX_use_certificate(context, cert) == 1 &&
                SSL_CTX_use_PrivateKey(context, key) == 1) {
                // The whole record is written or the write fails: one chunk, one record.
                SSL_CTX_clear_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE);
            } else if (context) {
                SSL_CTX_free(context);
                context = nullptr;
            }
            X509_free(cert);
            EVP_PKEY_free(key);
        }
        ~Identity()
        {
            if (context) SSL_CTX_free(context);
        }
    };
    static SSL_CTX* server_context()
    {
        static Identity identity;
        return identity.context;
    }

    bool wait_go_on(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return told_ || stopping_; });
        return told_;
    }

    // Until fd is readable (true), or the peer is stopped or the bound runs out.
    bool readable(int fd)
    {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        return ::poll(p, 2, bound_ms) > 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR)) && !(p[1].revents & POLLIN);
    }

    void run(const Script& script, int max_version, const std::string& in_the_clear, const ClearPart& clear_part)
    {
        // A client that has gone makes a write fail here, not stop the process.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);

        SSL_CTX* context = server_context();
        if (!context || port_ == 0 || !readable(listener_)) return;
        int s = ::accept(listener_, nullptr, nullptr);
        if (s < 0) return;
        timeval tv{bound_ms / 1000, 0};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (!in_the_clear.empty()) ::send(s, in_the_clear.data(), in_the_clear.size(), MSG_NOSIGNAL);
        if (clear_part && !clear_part(s)) {
            ::close(s);
            return;
        }
        SSL* ssl = SSL_new(context);
        if (ssl && max_version) SSL_set_max_proto_version(ssl, max_version);
        if (ssl && SSL_set_fd(ssl, s) == 1 && SSL_accept(ssl) == 1) {
            handshake_done_ = true;
            Session session(*this, ssl);
            script(session);
            if (session.reset_) {
                linger hard{1, 0};
                ::setsockopt(s, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            } else if (session.cut_) {
                ::shutdown(s, SHUT_WR);
                char buf[4096];
                while (readable(s) && ::recv(s, buf, sizeof buf, 0) > 0) {
                }
            } else {
                SSL_shutdown(ssl);  // close_notify
                // Take what the client still sends until it closes, so that
                // closing here never turns into a reset that could cost the
                // client data it has not read yet.
                char buf[4096];
                while (readable(s) && ::recv(s, buf, sizeof buf, 0) > 0) {
                }
            }
        }
        SSL_free(ssl);
        ::close(s);
    }

    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool told_ = false, stopping_ = false;
    std::atomic<bool> handshake_done_{false};
    std::thread thread_;
};

#include "net/ssl_sock.h"

#include <cstdio>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "base/text_stream.h"
#include "platform/environment.h"
#include "platform/no_sigpipe.h"
#include "platform/sockets.h"

namespace {

// One context for every TLS connection of the process.
struct TlsContext {
    int start_counter = 0;
    int ready = 0;
    SSL_CTX* context = nullptr;
};

TlsContext tls_state;

void report_openssl_error(TextStream* to)
{
    const char* reason = ERR_reason_error_string(ERR_peek_last_error());
    if (to) *to << "SSL ERROR: " << (reason ? reason : "") << "\r\n";
}

bool create_context(const char* certificate_file, TextStream* diagnostics)
{
    OPENSSL_init_ssl(0, nullptr);
    tls_state.context = SSL_CTX_new(TLS_client_method());
    if (!tls_state.context) {
        report_openssl_error(diagnostics);
        return false;
    }
    SSL_CTX_set_options(tls_state.context, SSL_OP_ALL);
    SSL_CTX_set_cipher_list(tls_state.context, "ALL:!COMPLEMENTOFDEFAULT:!eNULL");
    if (certificate_file && *certificate_file &&
        SSL_CTX_use_certificate_file(tls_state.context, certificate_file, SSL_FILETYPE_PEM) != 1)
        if (diagnostics) *diagnostics << "SSL ERROR: load certificate failed\r\n";
    tls_state.ready = 1;
    return true;
}

}  // namespace

void release_tls_context()
{
    if (tls_state.context) SSL_CTX_free(tls_state.context);
    tls_state = TlsContext();
}

int tls_context_starts() { return tls_state.start_counter; }

SSL_SimSock::~SSL_SimSock() { end_tls(); }

int SSL_SimSock::start_tls(const char* certificate_file, int level, int)
{
    tls = 1;
    // Bytes that came in the clear before the handshake would be read as if
    // they had come through TLS (an injected reply): the start is refused.
    if (buffered > 0) {
        if (diagnostics) *diagnostics << "SSL ERROR: unencrypted data before the handshake\r\n";
        return 0;
    }
    if (tls_state.start_counter++ == 0 && !create_context(certificate_file, diagnostics)) {
        tls_state.start_counter = 0;  // the next start tries again
        return 0;
    }
    for (int i = 0; i < 10 && !tls_state.ready; ++i) sleep_ms(1);
    tls_state.ready = 1;
    tls_state.start_counter = 1;
    if (!tls_state.context) return 0;

    ssl = SSL_new(tls_state.context);
    if (!ssl) {
        report_openssl_error(diagnostics);
        return 0;
    }
    SSL_set_ssl_method(ssl, TLS_client_method());
    bool verify = level > 0 && certificate_file && *certificate_file;
    SSL_set_verify(ssl, verify ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT : SSL_VERIFY_NONE, nullptr);
    SSL_set_fd(ssl, handle);
    // TLS reads block inside OpenSSL; the socket's own time-out bounds them,
    // so a silent peer cannot hold the engine for ever.
    if (timeout >= 0) socket_set_io_timeout(handle, timeout);
    int connected_tls;
    {
        NoSigpipe guard;
        connected_tls = SSL_connect(ssl);
    }
    if (connected_tls == -1) {
        report_openssl_error(diagnostics);
        return 0;
    }
    const char* cipher = SSL_CIPHER_get_name(SSL_get_current_cipher(ssl));
    cipher_name[0] = 0;
    if (cipher) std::sscanf(cipher, "%255s", cipher_name);
    X509* certificate = SSL_get1_peer_certificate(ssl);
    if (certificate) {
        long v = SSL_get_verify_result(ssl);
        X509_free(certificate);
        if (v != X509_V_OK && v != X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY)
            if (diagnostics) *diagnostics << "SSL WARNING: " << X509_verify_cert_error_string(v) << "\r\n";
    } else if (level > 0) {
        if (diagnostics) *diagnostics << "SSL ERROR: No server certificate\r\n";
        return 0;
    }
    SSL_set_read_ahead(ssl, 1);
    return 1;
}

void SSL_SimSock::end_tls()
{
    if (!ssl) return;
    SSL_set_shutdown(ssl, SSL_RECEIVED_SHUTDOWN);
    NoSigpipe guard;
    for (int i = 0; i < 4 && SSL_shutdown(ssl) == 0; ++i) {
    }
    SSL_free(ssl);
    ssl = nullptr;
}

// Waiting: a whole line buffered or decrypted bytes pending answer at once;
// otherwise the socket is watched for as long as the caller says.
bool SSL_SimSock::bytes_ready() { return ssl && SSL_pending(ssl) > 0; }

// Records OpenSSL has read ahead but not yet decrypted count only once they
// turn out to hold data.
bool SSL_SimSock::records_ready() { return ssl && SSL_has_pending(ssl) && take_arrived(); }

long SSL_SimSock::fill_tls_buffer()
{
    NoSigpipe guard;
    int r = SSL_read(ssl, receive_buffer, buffer_size);
    if (r > 0) {
        read_position = receive_buffer;
        buffered = r;
        bytes_received += static_cast<uint32_t>(r);
        ++receive_calls;
        return r;
    }
    int reason = SSL_get_error(ssl, r);
    return reason == SSL_ERROR_ZERO_RETURN || (reason == SSL_ERROR_SYSCALL && r == 0) ? 0 : -1;
}

int SSL_SimSock::take_arrived()
{
    if (buffered > 0 && read_position != receive_buffer) std::memmove(receive_buffer, read_position, buffered);
    read_position = receive_buffer;
    int room = buffer_size - buffered;
    if (room <= 0) return 1;
    socket_set_nonblocking(handle, true);
    int r;
    {
        NoSigpipe guard;
        r = SSL_read(ssl, receive_buffer + buffered, room);
    }
    int reason = r > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl, r);
    socket_set_nonblocking(handle, (flags & sock_nonblocking) != 0);
    if (r > 0) {
        buffered += r;
        bytes_received += static_cast<uint32_t>(r);
        ++receive_calls;
        return 1;
    }
    if (buffered == 0) read_position = nullptr;
    return reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE ? 0 : 1;
}

int SSL_SimSock::wait_readable(long seconds, long microseconds)
{
    if (!ssl) return SockClient::wait_readable(seconds, microseconds);
    if (!connected()) return -1;
    bool forever = seconds < 0;
    long long deadline = monotonic_ms() + seconds * 1000LL + microseconds / 1000;
    for (;;) {
        if (terminator_buffered() || bytes_ready() || records_ready()) return 1;
        long long left = forever ? 0 : deadline - monotonic_ms();
        if (left < 0) left = 0;
        int w = socket_wait(handle, wait_for_read | wait_for_error, forever ? -1 : static_cast<long>(left / 1000),
                            forever ? 0 : static_cast<long>(left % 1000) * 1000);
        if (w <= 0) return w;
        if (take_arrived()) return 1;
        if (!forever && monotonic_ms() >= deadline) return 0;
    }
}

int SSL_SimSock::read(char* buffer, int n)
{
    if (!ssl) return SockClient::read(buffer, n);
    if (buffered > 0) return take_buffered(buffer, n);
    NoSigpipe guard;
    int r = SSL_read(ssl, buffer, n);
    if (r > 0) bytes_received += static_cast<uint32_t>(r);
    return r;
}

// A line cut by the peer closing gives 0, not the partial count.
int SSL_SimSock::read_line(char* buffer, int capacity)
{
    if (!ssl) return SockClient::read_line(buffer, capacity);
    if (!connected()) return -1;
    int stored = 0;
    for (;;) {
        if (take_line(buffer, capacity, stored)) return stored;
        long r = fill_tls_buffer();
        if (r <= 0) return r == 0 ? 0 : -1;
    }
}

int SSL_SimSock::peek_byte(char& out)
{
    if (!ssl) return SockClient::peek_byte(out);
    if (buffered == 0) {
        long r = fill_tls_buffer();
        if (r <= 0) return static_cast<int>(r);
    }
    out = *read_position;
    return 1;
}

int SSL_SimSock::peek(char* buffer, int n)
{
    if (!ssl) return SockClient::peek(buffer, n);
    if (buffered == 0) {
        long r = fill_tls_buffer();
        if (r <= 0) return static_cast<int>(r);
    }
    int copied = buffered < n ? buffered : n;
    std::memcpy(buffer, read_position, static_cast<size_t>(copied));
    return copied;
}

int SSL_SimSock::write(const char* data, int n)
{
    if (!ssl) return SockClient::write(data, n);
    bytes_sent += static_cast<uint32_t>(n);
    NoSigpipe guard;
    return SSL_write(ssl, data, n);
}

int SSL_SimSock::close()
{
    end_tls();
    return SockClient::close();
}

int SSL_SimSock::pending()
{
    if (!ssl) return SockClient::pending();
    return (SSL_has_pending(ssl) || buffered > 0) ? 1 : 0;
}

int SSL_SimSock::receive_more()
{
    if (!ssl) return SockClient::receive_more();
    char byte;
    long r = socket_recv(handle, &byte, 1, true);
    return r >= 0 ? static_cast<int>(r) : -socket_error();
}

// One HTTP/1.0 request after another, each on its own connection: connect
// (to the proxy when one is set), the request head and any POST body, the
// response head, the body into the output file, then a 302 is followed.
#include "http/http_client.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/base64.h"
#include "base/text_stream.h"
#include "platform/nocase.h"
#include "platform/temp_file.h"

namespace {

using Clock = std::chrono::steady_clock;

long seconds_since(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
}

// The body is read in pieces of this size (the socket buffers 64 KiB).
constexpr int body_piece = 65536;

}  // namespace

HttpClient::HttpClient() : socket_(std::make_unique<SSL_SockClient>(0, '\n', 0))
{
    extra_headers = "User-Agent: Ostrelin-LIB\r\n";
}

HttpClient::~HttpClient()
{
    if (socket_) socket_->close();
}

int HttpClient::progress(int, long, int64_t) { return 1; }

int HttpClient::enable_tls(const string&) { return 1; }

int HttpsClient::enable_tls(const string& scheme)
{
    if (scheme != "https") return 1;
    return socket_->start_tls(nullptr, 0);
}

void HttpClient::set_credentials(const char* user, const char* password)
{
    std::string pair = std::string(user ? user : "") + ":" + (password ? password : "");
    std::string encoded = base64_encode(pair.data(), pair.size());
    while (!encoded.empty() && (encoded.back() == '\n' || encoded.back() == '\r')) encoded.pop_back();
    authorization = string(encoded.data(), encoded.size());
}

void HttpClient::set_proxy(const char* host, const char* port)
{
    proxy_host = host ? host : "";
    proxy_port = port ? port : "";
}

void HttpClient::set_timeout(int seconds) { socket_->set_timeout(seconds); }

int HttpClient::fail(const char* pattern, const string& a, const string& b)
{
    std::snprintf(status_text, sizeof status_text, pattern, a.c_str(), b.c_str());
    return -1;
}

int HttpClient::fetch_url(const char* url, const char* file, int kind)
{
    string scheme, host, port, path, fragment;
    if (!split_url(url, scheme, host, port, path, fragment)) return fail("500 PARSE ERROR", string());
    if (!scheme.equals_nocase("http") && !scheme.equals_nocase("https"))
        return fail("500 %s UNSUPPORTED PROTOCOL", scheme);
    transcript = string();
    return request(scheme, host, port, path, file, kind, 0);
}

int HttpClient::read_head(ResponseHead& head, const string& host)
{
    SSL_SockClient& s = *socket_;
    Clock::time_point last_line = Clock::now();
    size_t head_bytes = 0;
    int lines = 0;
    std::string text;  // the head as received, for the transcript
    char line[head_line_size];
    while (!cancelled) {
        int ready = s.pending() > 0 ? 1 : s.wait_readable(1, 0);
        if (ready > 0) {
            int n = s.read_line(line, head_line_size - 1);
            if (n < 1) {
                if (verbose) error_stream << "Read error = " << n << "\r\n";
                break;
            }
            line[n] = 0;
            last_line = Clock::now();
            text.append(line, static_cast<size_t>(n));
            // A head without end is refused rather than kept.
            head_bytes += static_cast<size_t>(n);
            if (head_bytes > max_response_head || ++lines > max_head_lines) {
                cancelled = 1;
                break;
            }
            if (n < 3) break;
            while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
            if (verbose) error_stream << line << "\r\n";
            take_head_line(line, host, head);
            continue;
        }
        if (ready < 0) break;
        if (seconds_since(last_line) > silence_limit) {
            if (verbose) error_stream << "Timed out\r\n";
            cancelled = 1;
        } else if (!progress(0, -1, 0)) {
            cancelled = 1;
        }
    }
    transcript += string(text.data(), text.size());
    return cancelled ? -1 : 1;
}

// The body into out: to the announced length, or to the close without one.
// 1 when it came whole; 0 when it was cut short; -1 when it could not be
// stored or passed the body limit.
int HttpClient::read_body(FILE* out, const ResponseHead& head)
{
    SSL_SockClient& s = *socket_;
    std::unique_ptr<char[]> piece(new char[body_piece]);
    Clock::time_point last_data = Clock::now(), last_progress = Clock::now();
    Clock::time_point started = Clock::now();
    int64_t remaining = head.length;  // -1: to the close
    bool known = head.length >= 0;
    bytes_received = 0;
    while (!known || remaining > 0) {
        int ready = s.pending() > 0 ? 1 : s.wait_readable(1, 0);
        if (ready < 0) break;
        if (ready == 0) {
            if (seconds_since(last_data) > silence_limit) {
                if (verbose) error_stream << "Timed out\r\n";
                break;
            }
            if (!progress(known ? static_cast<int>(100 - remaining * 100 / (head.length ? head.length : 1)) : 0, -1,
                          head.length)) {
                cancelled = 1;
                return -1;
            }
            continue;
        }
        int want = body_piece;
        if (known && remaining < want) want = static_cast<int>(remaining);
        int n = s.read(piece.get(), want);
        if (n < 1) {
            if (n < 0) cancelled = 1;
            break;
        }
        last_data = Clock::now();
        if (body_limit > 0 && bytes_received + n > body_limit) {
            cancelled = 1;
            return -1;
        }
        if (std::fwrite(piece.get(), 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) return -1;
        bytes_received += n;
        if (known) remaining -= n;
        if (seconds_since(last_progress) >= 1) {
            last_progress = Clock::now();
            int percent = known && head.length ? static_cast<int>(100 - remaining * 100 / head.length) : 0;
            long elapsed = seconds_since(started);
            long left = known && bytes_received ? static_cast<long>(remaining * elapsed / bytes_received) : -1;
            if (!progress(percent, left, head.length)) {
                cancelled = 1;
                return -1;
            }
        }
    }
    return known && remaining > 0 ? 0 : 1;
}

int HttpClient::request(const string& scheme, const string& host, const string& port_given, const string& path,
                        const char* file, int kind, int redirects)
{
    std::snprintf(status_text, sizeof status_text, "404 NOT FOUND");
    cancelled = 0;
    status_code = 0;
    string port = port_given;
    if (port.empty()) port = scheme.equals_nocase("https") ? "443" : "80";
    if (verbose)
        error_stream << "URL fetch " << scheme << "://" << host << ":" << port << "/" << path << "\n";

    bool proxied = !proxy_host.empty();
    const string& connect_host = proxied ? proxy_host : host;
    const string& connect_port = proxied ? proxy_port : port;
    SSL_SockClient& s = *socket_;
    s.close();
    if (s.connect(connect_host, connect_port) <= 0)
        return fail("500 %s:%s CONNECTION FAILED", connect_host, connect_port);
    if (s.timeout >= 0) s.set_timeout(s.timeout);  // bounds reads inside TLS as well
    if (verbose) error_stream << "Connected to '" << connect_host << ":" << connect_port << "'\n";
    if (enable_tls(scheme) <= 0) {
        s.close();
        return fail("500 %s:%s ENABLE SSL FAILED", connect_host, connect_port);
    }
    if (verbose) error_stream << "post connect\r\n";
    if (!progress(0, -1, 0)) {
        s.close();
        cancelled = 1;
        return fail("500 %s:%s CANCELLED", connect_host, connect_port);
    }

    string head_text = request_head(scheme, host, port, path, kind);
    if (head_text.empty() ||
        s.write(head_text.c_str(), static_cast<int>(head_text.length())) != static_cast<int>(head_text.length())) {
        s.close();
        return fail("500 %s:%s WRITE FAILED", connect_host, connect_port);
    }
    transcript += head_text;
    if (verbose) error_stream << head_text;
    if ((kind == 1 || kind == 2) && !post_data.empty()) {
        int length = static_cast<int>(post_data.length());
        if (s.write(post_data.c_str(), length) != length) {
            s.close();
            return fail("500 %s:%s WRITE FORM DATA FAILED", connect_host, connect_port);
        }
        if (verbose >= 3) error_stream << post_data;
    }

    last_modified = "none";
    expires = "none";
    content_type = "text/html";
    ResponseHead head;
    if (read_head(head, host) < 0) {
        if (verbose) error_stream << "Cancelled\r\n";
        s.close();
        return fail("500 %s:%s CANCELLED", connect_host, connect_port);
    }

    FILE* out = std::fopen(file, "wb");
    if (!out) {
        if (verbose) error_stream << "bad file: '" << file << "'\n";
        s.close();
        return fail("500 %s:%s TEMPORARY FILE FAILURE", connect_host, connect_port);
    }
    int body = read_body(out, head);
    bool stored = std::fclose(out) == 0;
    s.close();
    if (verbose) error_stream << "Disconnected\r\n";
    progress(100, 0, head.length);
    if (body < 0 && cancelled) return fail("500 %s:%s CANCELLED", connect_host, connect_port);
    if (body < 0 || !stored) return fail("500 %s:%s TEMPORARY FILE FAILURE", connect_host, connect_port);
    // A body cut short is not the document: the fetch fails rather than
    // hand on part of it as if it were whole.
    if (body == 0) {
        if (verbose)
            error_stream << "Expected: " << std::to_string(head.length).c_str() << " bytes, got: "
                         << std::to_string(bytes_received).c_str() << "\r\n";
        return fail("500 %s:%s CANCELLED", connect_host, connect_port);
    }

    if (status_code == 302 && !head.location.empty()) {
        // A chain of redirects ends after max_redirects: the last answer is
        // taken as it is.
        if (redirects >= max_redirects) return 0;
        string location = head.location;
        string target = redirect_target(location, scheme, host, port);
        if (verbose) error_stream << "Redirect to '" << location << "' (" << target << ")\n";
        string s2, h2, p2, path2, f2;
        if (!split_url(target.c_str(), s2, h2, p2, path2, f2)) {
            fail("500 %s PARSE LOCATION FAILED", location);
            return 0;
        }
        if (!s2.equals_nocase("http") && !s2.equals_nocase("https")) return fail("500 %s UNSUPPORTED PROTOCOL", s2);
        transcript = string();
        return request(s2, h2, p2, path2, file, 0, redirects + 1);
    }
    return (status_code >= 200 && status_code <= 299) ? 1 : 0;
}

string HttpClient::redirect_target(const string& location, const string& scheme, const string& host,
                                   const string& port)
{
    if (location.prefix_equals_nocase("http:", 5) || location.prefix_equals_nocase("https:", 6)) return location;
    std::string base = std::string(scheme.c_str()) + "://" + host.c_str() + ":" + port.c_str();
    std::string rest = location.c_str();
    if (rest.empty() || rest[0] != '/') base += '/';
    while (rest.compare(0, 3, "../") == 0) {
        rest.erase(0, 2);
        size_t slash = base.rfind('/');
        if (slash != std::string::npos) base.erase(slash);
    }
    base += rest;
    return string(base.data(), base.size());
}

string HttpClient::fetch_to_string(const char* url, int kind)
{
    string path = make_temp_file("tavrin-http");
    if (path.empty()) {
        std::snprintf(status_text, sizeof status_text, "500 TEMPORARY FILE FAILURE");
        return status_text;
    }
    int result = fetch_url(url, path.c_str(), kind);
    string content;
    if (result < 0) {
        content = status_text;
    } else if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::string all;
        char piece[65536];
        size_t n;
        while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) all.append(piece, n);
        std::fclose(f);
        content = string(all.data(), all.size());
    }
    std::remove(path.c_str());
    return content;
}

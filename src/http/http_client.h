// Documents over HTTP/1.0 (GET and POST) into a local file: cookies kept
// between the requests of one client, Basic authorization, a proxy, 302
// redirects, and a progress hook. HttpsClient is the same over TLS. The
// client owns its socket rather than being one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "base/lists.h"
#include "base/text_string.h"
#include "net/ssl_sock.h"

struct Cookie {
    string domain;
    string path;
    string value;    // name=value of the Set-Cookie line, up to its first ';'
    string expires;  // as sent, not interpreted
};

class HttpClient {
public:
    // Redirects followed in a row before the answer is taken as it is.
    static constexpr int max_redirects = 10;
    // Silence while the head or the body is read, in seconds.
    static constexpr int silence_limit = 300;
    // A response head's line, and the most bytes and lines of one head.
    static constexpr int head_line_size = 1024;
    static constexpr size_t max_response_head = 256 * 1024;
    static constexpr int max_head_lines = 1000;
    // The most bytes of one request head, and cookies kept per client.
    static constexpr size_t max_request_head = 8192;
    static constexpr int max_cookies = 300;

    HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;
    virtual ~HttpClient();

    // Asked while a request runs: non-zero to go on, 0 to cancel. The
    // values are informative (seconds left is -1 when unknown).
    virtual int progress(int percent, long seconds_left, int64_t total);
    // 1 when the connection may carry the scheme's requests.
    virtual int enable_tls(const string& scheme);

    void set_credentials(const char* user, const char* password);
    void set_proxy(const char* host, const char* port);
    void set_timeout(int seconds);

    // Kind 0 GET, 1 POST of form data, 2 POST with the post content type.
    // 1 for a 2xx answer; 0 for another status, or a redirect that cannot
    // be followed (the body is still stored); -1 when no usable answer came
    // (status_text says why).
    int fetch_url(const char* url, const char* file, int kind);
    // The whole document; the status text when fetch_url gave -1. A body
    // longer than body_limit (when set) fails the fetch.
    string fetch_to_string(const char* url, int kind);

    // What one response's head says beyond the client's own fields.
    struct ResponseHead {
        int64_t length = -1;  // Content-Length; -1 when none came
        string location;
        bool failed = false;  // a status outside 200 to 299
    };
    // One line of a response head, its line end removed, into the client's
    // fields and head; host is the request's (the default cookie domain).
    void take_head_line(const char* line, const string& host, ResponseHead& head);
    // The request head for a request to host:port/path, or an empty text
    // when it would pass max_request_head.
    string request_head(const string& scheme, const string& host, const string& port, const string& path,
                        int kind) const;

    // The URL a 302's location leads to from scheme://host:port: an
    // absolute location as it is, else one on the same server (a relative
    // one from the server's root).
    static string redirect_target(const string& location, const string& scheme, const string& host,
                                  const string& port);

    // scheme://host:port/path#fragment; 0 for an empty text, else 1.
    static int split_url(const char* text, string& scheme, string& host, string& port, string& path,
                         string& fragment);

    int32_t status_code = 0;
    int cancelled = 0;
    string last_modified;
    string expires;
    string content_type;
    string proxy_host, proxy_port;
    string referer;
    string authorization;
    string post_data;
    string extra_headers;
    string transcript;
    string post_content_type;
    List<Cookie> cookies;
    char status_text[256] = "";
    int64_t bytes_received = 0;
    int verbose = 0;
    // The most body bytes a request may store; 0 for no bound.
    int64_t body_limit = 0;

protected:
    std::unique_ptr<SSL_SockClient> socket_;

private:
    int request(const string& scheme, const string& host, const string& port, const string& path,
                const char* file, int kind, int redirects);
    int fail(const char* pattern, const string& a, const string& b = string());
    int read_head(ResponseHead& head, const string& host);
    int read_body(FILE* out, const ResponseHead& head);
};

class HttpsClient : public HttpClient {
public:
    // Starts TLS when the scheme is exactly "https".
    int enable_tls(const string& scheme) override;
};

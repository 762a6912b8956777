// The HTTP client's pieces (URL splitting, the request head, the response
// head lines) and scripted answers no real server gives on demand: a body
// cut short, a head without end, a proxy that checks the request line.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/socket.h>

#include "http/http_client.h"
#include "platform/temp_file.h"
#include "../../support/loopback_peer.h"

namespace {

std::string read_request(int s)
{
    std::string got;
    char c;
    while (got.find("\r\n\r\n") == std::string::npos && ::recv(s, &c, 1, 0) == 1) got += c;
    return got;
}

std::string file_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TempPath {
    std::string path = make_temp_file("http-test").c_str();
    ~TempPath() { std::remove(path.c_str()); }
};

}  // namespace

TEST(HttpSplitUrl, TakesTheUrlApart)
{
    struct Case {
        const char* url;
        const char* scheme;
        const char* host;
        const char* port;
        const char* path;
        const char* fragment;
    } cases[] = {
        {"http://example.test/a/b.html", "http", "example.test", "", "a/b.html", ""},
        {"https://example.test:8443/x?q=1#top", "https", "example.test", "8443", "x?q=1", "top"},
        {"http://example.test", "http", "example.test", "", "", ""},
        {"http://example.test:81", "http", "example.test", "81", "", ""},
        {"http://example.test/a:b?t=1:2", "http", "example.test", "", "a:b?t=1:2", ""},
        {"page.html#n", "", "", "", "page.html", "n"},
        {"/abs/path", "", "", "", "/abs/path", ""},
    };
    for (const Case& c : cases) {
        string scheme, host, port, path, fragment;
        EXPECT_EQ(HttpClient::split_url(c.url, scheme, host, port, path, fragment), 1) << c.url;
        EXPECT_STREQ(scheme.c_str(), c.scheme) << c.url;
        EXPECT_STREQ(host.c_str(), c.host) << c.url;
        EXPECT_STREQ(port.c_str(), c.port) << c.url;
        EXPECT_STREQ(path.c_str(), c.path) << c.url;
        EXPECT_STREQ(fragment.c_str(), c.fragment) << c.url;
    }
    string a, b, c, d, e;
    EXPECT_EQ(HttpClient::split_url("", a, b, c, d, e), 0);
}

TEST(HttpRequestHead, HostCookiesAuthorizationAndPost)
{
    HttpClient client;
    client.referer = "http://from.test/";
    client.set_credentials("user", "secret");
    HttpClient::ResponseHead head;
    client.take_head_line("Set-Cookie: a=1; path=/docs; domain=example.test", "www.example.test", head);
    client.take_head_line("Set-Cookie: b=2", "www.example.test", head);
    client.take_head_line("Set-Cookie: c=3; domain=other.test", "www.example.test", head);
    client.post_data = "x=1&y=2";

    std::string get = client.request_head("http", "www.example.test", "80", "docs/index.html", 0).c_str();
    EXPECT_EQ(get,
              "GET /docs/index.html HTTP/1.0\r\n"
              "Referer: http://from.test/\r\n"
              "Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"
              "Cookie: a=1; b=2\r\n"
              "Host: www.example.test\r\n"
              "User-Agent: Ostrelin-LIB\r\n"
              "Connection: close\r\n\r\n");

    std::string post = client.request_head("http", "www.example.test", "8080", "form", 1).c_str();
    EXPECT_NE(post.find("POST /form HTTP/1.0\r\n"), std::string::npos);
    EXPECT_NE(post.find("Cookie: b=2\r\n"), std::string::npos);  // the path /docs does not match
    EXPECT_NE(post.find("Host: www.example.test:8080\r\n"), std::string::npos);
    EXPECT_NE(post.find("Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 7\r\n\r\n"),
              std::string::npos);

    client.post_content_type = "text/xml";
    std::string typed = client.request_head("http", "other.test", "80", "", 2).c_str();
    EXPECT_NE(typed.find("Cookie: c=3\r\n"), std::string::npos);
    EXPECT_NE(typed.find("Content-Type: text/xml\r\n"), std::string::npos);

    client.set_proxy("proxy.test", "3128");
    std::string proxied = client.request_head("https", "www.example.test", "443", "a", 0).c_str();
    EXPECT_EQ(proxied.rfind("GET https://www.example.test:443/a HTTP/1.0\r\n", 0), 0u);
}

TEST(HttpRequestHead, RefusesLineBreaksInFieldsAndHeadsPastTheBound)
{
    HttpClient client;
    EXPECT_TRUE(client.request_head("http", "h.test", "80", "a\r\nX-Injected: 1", 0).empty());
    client.referer = "r\nX: y";
    EXPECT_TRUE(client.request_head("http", "h.test", "80", "a", 0).empty());
    client.referer = string();
    client.extra_headers = std::string(HttpClient::max_request_head, 'x').c_str();
    EXPECT_TRUE(client.request_head("http", "h.test", "80", "a", 0).empty());
}

TEST(HttpResponseHead, StatusDatesTypeLengthAndHostileLengths)
{
    HttpClient client;
    HttpClient::ResponseHead head;
    client.take_head_line("HTTP/1.1 200 OK", "h", head);
    client.take_head_line("content-type: text/plain; charset=utf-8", "h", head);
    client.take_head_line("Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT", "h", head);
    client.take_head_line("Content-Length:   1234", "h", head);
    client.take_head_line("LOCATION: /next", "h", head);
    EXPECT_EQ(client.status_code, 200);
    EXPECT_FALSE(head.failed);
    EXPECT_STREQ(client.content_type.c_str(), "text/plain");
    EXPECT_STREQ(client.last_modified.c_str(), "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(head.length, 1234);
    EXPECT_STREQ(head.location.c_str(), "/next");

    for (const char* bad : {"Content-Length: -5", "Content-Length: 99999999999999999999999", "Content-Length: x"}) {
        HttpClient::ResponseHead h;
        client.take_head_line(bad, "h", h);
        EXPECT_EQ(h.length, -1) << bad;
    }
    HttpClient::ResponseHead missing;
    client.take_head_line("HTTP/1.0 404 Not Found", "h", missing);
    EXPECT_TRUE(missing.failed);
    EXPECT_EQ(client.status_code, 404);

    // The cookie list has a bound.
    for (int i = 0; i < HttpClient::max_cookies + 50; ++i) client.take_head_line("Set-Cookie: n=v", "h", missing);
    EXPECT_EQ(client.cookies.count(), HttpClient::max_cookies);
}

TEST(HttpFetch, ABodyCutShortFailsAndAWholeOneSucceeds)
{
    TempPath out;
    {
        LoopbackPeer peer([](int s) {
            read_request(s);
            LoopbackPeer::send_text(s, "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly part");
        });
        HttpClient client;
        client.set_timeout(10);
        EXPECT_EQ(client.fetch_url(("http://127.0.0.1:" + peer.port() + "/doc").c_str(), out.path.c_str(), 0), -1);
        EXPECT_NE(std::string(client.status_text).find("CANCELLED"), std::string::npos);
        EXPECT_EQ(client.bytes_received, 9);
    }
    {
        std::string request;
        LoopbackPeer peer([&request](int s) {
            request = read_request(s);
            LoopbackPeer::send_text(s, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello and more");
        });
        HttpClient client;
        client.set_timeout(10);
        EXPECT_EQ(client.fetch_url(("http://127.0.0.1:" + peer.port() + "/doc").c_str(), out.path.c_str(), 0), 1);
        peer.join();
        EXPECT_EQ(file_text(out.path), "hello");  // no byte past the length
        EXPECT_EQ(request.rfind("GET /doc HTTP/1.0\r\n", 0), 0u);
        EXPECT_NE(request.find("Host: 127.0.0.1:" + peer.port() + "\r\n"), std::string::npos);
        EXPECT_NE(std::string(client.transcript.c_str()).find("Content-Length: 5\r\n"), std::string::npos);
    }
}

TEST(HttpFetch, AHeadWithoutEndIsRefused)
{
    TempPath out;
    LoopbackPeer peer([](int s) {
        read_request(s);
        LoopbackPeer::send_text(s, "HTTP/1.0 200 OK\r\n");
        std::string lines;
        for (int i = 0; i < HttpClient::max_head_lines + 10; ++i) lines += "X-Filler: " + std::to_string(i) + "\r\n";
        LoopbackPeer::send_text(s, lines);
    });
    HttpClient client;
    client.set_timeout(10);
    EXPECT_EQ(client.fetch_url(("http://127.0.0.1:" + peer.port() + "/").c_str(), out.path.c_str(), 0), -1);
    EXPECT_NE(std::string(client.status_text).find("CANCELLED"), std::string::npos);
}

TEST(HttpFetch, ThroughAProxyTheRequestLineIsAbsolute)
{
    TempPath out;
    std::string request;
    LoopbackPeer proxy([&request](int s) {
        request = read_request(s);
        LoopbackPeer::send_text(s, "HTTP/1.0 200 OK\r\n\r\nvia proxy");
    });
    HttpClient client;
    client.set_timeout(10);
    client.set_proxy("127.0.0.1", proxy.port().c_str());
    EXPECT_EQ(client.fetch_url("http://docs.test/guide/page.html", out.path.c_str(), 0), 1);
    proxy.join();
    EXPECT_EQ(request.rfind("GET http://docs.test:80/guide/page.html HTTP/1.0\r\n", 0), 0u);
    EXPECT_NE(request.find("Host: docs.test\r\n"), std::string::npos);
    EXPECT_EQ(file_text(out.path), "via proxy");  // no length: to the close
}

TEST(HttpFetch, FailuresBeforeAnAnswer)
{
    TempPath out;
    HttpClient client;
    EXPECT_EQ(client.fetch_url("ftp://h.test/x", out.path.c_str(), 0), -1);
    EXPECT_STREQ(client.status_text, "500 ftp UNSUPPORTED PROTOCOL");
    EXPECT_EQ(client.fetch_url("", out.path.c_str(), 0), -1);
    EXPECT_STREQ(client.status_text, "500 PARSE ERROR");
    std::string port = closed_port();
    EXPECT_EQ(client.fetch_url(("http://127.0.0.1:" + port + "/").c_str(), out.path.c_str(), 0), -1);
    EXPECT_EQ(std::string(client.status_text), "500 127.0.0.1:" + port + " CONNECTION FAILED");
    string text = client.fetch_to_string(("http://127.0.0.1:" + port + "/").c_str(), 0);
    EXPECT_EQ(std::string(text.c_str()), "500 127.0.0.1:" + port + " CONNECTION FAILED");
}

TEST(HttpFetch, ToStringKeepsToTheBodyLimit)
{
    for (int limit : {0, 4}) {
        LoopbackPeer peer([](int s) {
            read_request(s);
            LoopbackPeer::send_text(s, "HTTP/1.0 200 OK\r\n\r\n<doc/>");
        });
        HttpClient client;
        client.set_timeout(10);
        client.body_limit = limit;
        string text = client.fetch_to_string(("http://127.0.0.1:" + peer.port() + "/e.xml").c_str(), 0);
        if (limit == 0) EXPECT_STREQ(text.c_str(), "<doc/>");
        else EXPECT_NE(std::string(text.c_str()).find("CANCELLED"), std::string::npos);
    }
}

TEST(HttpRedirect, LocationsLeadFromTheServersRoot)
{
    struct Case {
        const char* location;
        const char* target;
    } cases[] = {
        {"new.html", "http://h.test:8080/new.html"},
        {"/dir/new.html", "http://h.test:8080/dir/new.html"},
        {"../up.html", "http://h.test:8080/up.html"},
        {"HTTPS://other.test/x", "HTTPS://other.test/x"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(HttpClient::redirect_target(c.location, "http", "h.test", "8080").c_str(), c.target)
            << c.location;
}

// The HTTP client against lighttpd (tools/fixtures/web_server, with the CGI
// scripts of tests/support/cgi), in-process and through "-url:" of the
// tavrin program; and a scripted proxy peer for the absolute request line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "http/http_client.h"
#include "../support/command.h"
#include "../support/fixtures.h"
#include "../support/loopback_peer.h"

namespace {

std::string text(const string& s) { return std::string(s.c_str(), s.length()); }

// What a CGI script of the echo kind printed for one header ("Name: value").
std::string echoed(const std::string& page, const std::string& name)
{
    std::string lines = "\n" + page;
    size_t at = lines.find("\n" + name + ": ");
    if (at == std::string::npos) return "<missing>";
    size_t from = at + 1 + name.size() + 2;
    return lines.substr(from, lines.find('\n', from) - from);
}

std::string echoed_body(const std::string& page)
{
    size_t at = page.find("\nBody:\n");
    return at == std::string::npos ? "<missing>" : page.substr(at + 7);
}

// The body the no_length script sends.
std::string no_length_body()
{
    std::string body;
    char line[16];
    for (int i = 1; i <= 27272; ++i) {
        std::snprintf(line, sizeof line, "line %05d\n", i);
        body += line;
    }
    return body + "end\n";
}

// True when something accepts connections on 127.0.0.1:port.
bool accepting(int port)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

}  // namespace

class HttpLighttpd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!fixtures::have_program("lighttpd")) return;
        dir = fixtures::temp_folder();
        http = closed_port();
        https = closed_port();
        while (https == http) https = closed_port();
        started = std::system((fixtures::script("web_server") + " start " + dir + " " + http + " " + https + " >" +
                               dir + "/fixture.log 2>&1")
                                  .c_str()) == 0;
        // Every byte value, line ends of both kinds and NULs included.
        std::mt19937 rng(7);
        blob.resize(200000);
        for (char& c : blob) c = static_cast<char>(rng());
        blob.replace(0, 8, std::string("\r\n\n\r\0\0.\r", 8));
        write_doc("blob.bin", blob);
        write_doc("new.html", "<html>the new place</html>\n");
        write_doc("status-404.html", "no such document here\n");
    }
    static void TearDownTestSuite()
    {
        if (dir.empty()) return;
        std::system((fixtures::script("web_server") + " stop " + dir).c_str());
        std::system(("rm -rf " + dir).c_str());
        dir.clear();
    }
    void SetUp() override
    {
        REQUIRE_PROGRAM("lighttpd");
        ASSERT_TRUE(started) << fixtures::slurp(dir + "/fixture.log");
        work = fixtures::temp_folder();
    }
    void TearDown() override { std::system(("rm -rf " + work).c_str()); }

    static void write_doc(const std::string& name, const std::string& bytes)
    {
        std::ofstream(dir + "/www/" + name, std::ios::binary) << bytes;
    }
    static std::string url(const std::string& path, bool tls = false)
    {
        return (tls ? "https://127.0.0.1:" + https : "http://127.0.0.1:" + http) + "/" + path;
    }
    std::string out(const std::string& name = "got") const { return work + "/" + name; }
    std::string got(const std::string& name = "got") const { return slurp(out(name)); }
    static std::string slurp(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static bool exists(const std::string& path)
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    }
    // tavrin writing one message to WORK/out.eml with the arguments after
    // the addresses.
    CommandResult tavrin_to_file(const std::string& args) const
    {
        return run_command_line(std::string(TAVRIN_BINARY) + " -mf -host:" + out("out.eml") +
                                " -from:me@test.example -to:you@test.example -s:Fetched -msg:body -tmo:20 " + args +
                                " </dev/null");
    }
    // The named parts of WORK/out.eml as Python's email package reads them
    // (stored in WORK/parts): one "name<TAB>size<TAB>type<TAB>kind" line each.
    std::string python_parts() const
    {
        std::system(("mkdir -p " + work + "/parts").c_str());
        return run_command_line("/usr/bin/python3 " + std::string(TAVRIN_SOURCE_DIR) +
                                "/tests/support/python_parts.py " + out("out.eml") + " " + work + "/parts")
            .out;
    }

    std::string work;
    static std::string dir, http, https, blob;
    static bool started;
};

std::string HttpLighttpd::dir, HttpLighttpd::http, HttpLighttpd::https, HttpLighttpd::blob;
bool HttpLighttpd::started = false;

TEST_F(HttpLighttpd, GetOverHttpAndHttpsStoresTheDocumentByteForByte)
{
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        HttpsClient client;
        client.set_timeout(20);
        ASSERT_EQ(client.fetch_url(url("blob.bin", tls).c_str(), out().c_str(), 0), 1) << client.status_text;
        EXPECT_EQ(client.status_code, 200);
        EXPECT_TRUE(got() == blob) << "stored " << got().size() << " bytes of " << blob.size();
        EXPECT_EQ(client.bytes_received, static_cast<int64_t>(blob.size()));
        EXPECT_EQ(text(client.content_type), "application/octet-stream");
        EXPECT_NE(text(client.last_modified), "none");
        EXPECT_EQ(text(client.expires), "none");
        EXPECT_NE(text(client.transcript).find("GET /blob.bin HTTP/1.0\r\n"), std::string::npos);

        // The parameters of the type are dropped.
        ASSERT_EQ(client.fetch_url(url("new.html", tls).c_str(), out().c_str(), 0), 1) << client.status_text;
        EXPECT_EQ(got(), "<html>the new place</html>\n");
        EXPECT_EQ(text(client.content_type), "text/html");
    }
}

TEST_F(HttpLighttpd, HostLineAndDefaultPorts)
{
    HttpClient client;
    ASSERT_EQ(client.fetch_url(url("cgi-bin/echo").c_str(), out().c_str(), 0), 1) << client.status_text;
    EXPECT_EQ(echoed(got(), "Host"), "127.0.0.1:" + http);
    EXPECT_EQ(echoed(got(), "User-Agent"), "Ostrelin-LIB");
    EXPECT_EQ(echoed(got(), "Method"), "GET");

    // Without a port the scheme's own is used: seen in the failure, as
    // nothing here listens on 80 or 443 (unless something does: then the
    // case is left out).
    struct Case {
        const char* url;
        int port;
        const char* status;
    } cases[] = {
        {"http://127.0.0.1/x.html", 80, "500 127.0.0.1:80 CONNECTION FAILED"},
        {"https://127.0.0.1/x.html", 443, "500 127.0.0.1:443 CONNECTION FAILED"},
        {"http://127.0.0.1", 80, "500 127.0.0.1:80 CONNECTION FAILED"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        if (accepting(c.port)) {
            std::printf("something listens on 127.0.0.1:%d here: %s left out\n", c.port, c.url);
            continue;
        }
        HttpsClient failing;
        EXPECT_EQ(failing.fetch_url(c.url, out("none").c_str(), 0), -1);
        EXPECT_STREQ(failing.status_text, c.status);
    }
}

TEST_F(HttpLighttpd, RedirectsResolveAgainstTheServerRoot)
{
    struct Case {
        std::string location;
        std::string request_line;  // of the request that followed
        std::string body;
        int result;
    } cases[] = {
        {"new.html", "GET /new.html HTTP/1.0\r\n", "<html>the new place</html>\n", 1},
        {"../new.html", "GET /new.html HTTP/1.0\r\n", "<html>the new place</html>\n", 1},
        {"/new.html", "GET /new.html HTTP/1.0\r\n", "<html>the new place</html>\n", 1},
        {"http://127.0.0.1:" + http + "/new.html", "GET /new.html HTTP/1.0\r\n", "<html>the new place</html>\n", 1},
        // Across to the other scheme, on the other port.
        {"https://127.0.0.1:" + https + "/new.html", "GET /new.html HTTP/1.0\r\n", "<html>the new place</html>\n", 1},
        // Followed to a document that is not there: its status counts.
        {"gone.html", "GET /gone.html HTTP/1.0\r\n", "no such document here\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        HttpsClient client;
        client.set_timeout(20);
        EXPECT_EQ(client.fetch_url(url("cgi-bin/redirect?" + c.location).c_str(), out().c_str(), 0), c.result)
            << client.status_text;
        EXPECT_EQ(client.status_code, c.result == 1 ? 200 : 404);
        EXPECT_NE(text(client.transcript).find(c.request_line), std::string::npos) << text(client.transcript);
        EXPECT_EQ(got(), c.body);
    }
}

TEST_F(HttpLighttpd, RedirectAfterAPostIsAGetThatKeepsTheSettingsAndTheNewCookie)
{
    HttpClient client;
    client.set_credentials("user", "pa:ss");
    client.referer = "http://ref.test.example/";
    client.post_data = "a=1";
    ASSERT_EQ(client.fetch_url(url("cgi-bin/redirect?/cgi-bin/echo").c_str(), out().c_str(), 1), 1)
        << client.status_text;
    EXPECT_EQ(echoed(got(), "Method"), "GET");
    EXPECT_EQ(echoed_body(got()), "");
    EXPECT_EQ(echoed(got(), "Authorization"), "Basic dXNlcjpwYTpzcw==");
    EXPECT_EQ(echoed(got(), "Referer"), "http://ref.test.example/");
    EXPECT_EQ(echoed(got(), "Cookie"), "moved=yes");
}

TEST_F(HttpLighttpd, RedirectLoopEndsAfterTenRedirectsWithTheLastAnswerAsItIs)
{
    HttpClient client;
    EXPECT_EQ(client.fetch_url(url("cgi-bin/loop").c_str(), out().c_str(), 0), 0) << client.status_text;
    EXPECT_EQ(client.status_code, 302);
    // The first request and ten redirects: loop?10 was the last one asked for.
    std::string transcript = text(client.transcript);
    EXPECT_NE(transcript.find("GET /cgi-bin/loop?10 HTTP/1.0\r\n"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("GET /cgi-bin/loop?11 HTTP/1.0\r\n"), std::string::npos) << transcript;
    EXPECT_EQ(got(), "loop 10\n");
}

TEST_F(HttpLighttpd, BodyWithoutLengthIsReadUntilTheClose)
{
    const std::string expected = no_length_body();
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        HttpsClient client;
        client.set_timeout(20);
        ASSERT_EQ(client.fetch_url(url("cgi-bin/no_length", tls).c_str(), out().c_str(), 0), 1) << client.status_text;
        // The server really sent no length.
        EXPECT_EQ(text(client.transcript).find("Content-Length"), std::string::npos) << text(client.transcript);
        EXPECT_TRUE(got() == expected) << "stored " << got().size() << " bytes of " << expected.size();
        EXPECT_EQ(client.bytes_received, static_cast<int64_t>(expected.size()));
    }
}

TEST_F(HttpLighttpd, NotFoundGivesZeroWithTheBodyStored)
{
    HttpClient client;
    EXPECT_EQ(client.fetch_url(url("missing.txt").c_str(), out().c_str(), 0), 0);
    EXPECT_EQ(client.status_code, 404);
    EXPECT_STREQ(client.status_text, "404 NOT FOUND");
    EXPECT_EQ(got(), "no such document here\n");
}

TEST_F(HttpLighttpd, CookiesGoToTheMatchingHostAndPathOnly)
{
    HttpClient client;
    ASSERT_EQ(client.fetch_url(url("cgi-bin/set_cookies").c_str(), out().c_str(), 0), 1) << client.status_text;
    std::vector<std::string> stored;
    ListIterator<Cookie> it(client.cookies);
    Cookie c;
    for (int more = it.first(c); more; more = it.next(c))
        stored.push_back(text(c.domain) + " " + text(c.path) + " " + text(c.value) + " [" + text(c.expires) + "]");
    EXPECT_EQ(stored, (std::vector<std::string>{
                          "127.0.0.1 /cgi-bin session=abc123 []",
                          "127.0.0.1 / plain=1 []",
                          "127.0.0.1 /private hidden=no []",
                          "other.example / stranger=x [Wed, 01 Jan 2031 00:00:00 GMT]",
                      }));

    // The next request of the same object, to the same host under /cgi-bin.
    ASSERT_EQ(client.fetch_url(url("cgi-bin/show_cookie").c_str(), out().c_str(), 0), 1) << client.status_text;
    EXPECT_EQ(got(), "Cookie: session=abc123; plain=1\n");

    // Another host name for the same server: none of them.
    ASSERT_EQ(client.fetch_url(("http://localhost:" + http + "/cgi-bin/show_cookie").c_str(), out().c_str(), 0), 1)
        << client.status_text;
    EXPECT_EQ(got(), "Cookie: \n");
    EXPECT_EQ(text(client.transcript).find("Cookie:"), std::string::npos) << text(client.transcript);

    // Another object has none either.
    HttpClient fresh;
    ASSERT_EQ(fresh.fetch_url(url("cgi-bin/show_cookie").c_str(), out().c_str(), 0), 1) << fresh.status_text;
    EXPECT_EQ(got(), "Cookie: \n");
}

TEST_F(HttpLighttpd, AuthorizationRefererAndPostBodiesReachTheScript)
{
    HttpClient client;
    client.set_credentials("user", "pa:ss");
    client.referer = "http://ref.test.example/from.html";
    ASSERT_EQ(client.fetch_url(url("cgi-bin/echo?q=1").c_str(), out().c_str(), 0), 1) << client.status_text;
    EXPECT_EQ(echoed(got(), "Method"), "GET");
    EXPECT_EQ(echoed(got(), "Uri"), "/cgi-bin/echo?q=1");
    EXPECT_EQ(echoed(got(), "Authorization"), "Basic dXNlcjpwYTpzcw==");
    EXPECT_EQ(echoed(got(), "Referer"), "http://ref.test.example/from.html");
    EXPECT_EQ(echoed_body(got()), "");
    // (the server gives CGI a length of 0 for a GET; the head itself has none)
    std::string head = text(client.transcript);
    head = head.substr(0, head.find("\r\n\r\n") + 4);
    EXPECT_EQ(head.find("Content-"), std::string::npos) << head;

    // A large body with every byte value must arrive whole.
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 256);
    struct Case {
        int kind;
        std::string data;
        const char* type;
        const char* expected_type;
    } cases[] = {
        {1, "a=1&b=two+words", "", "application/x-www-form-urlencoded"},
        {2, "<doc>text</doc>", "text/xml", "text/xml"},
        {2, big, "application/octet-stream", "application/octet-stream"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + " " + c.expected_type + " " + std::to_string(c.data.size()));
        client.post_data = string(c.data.data(), c.data.size());
        client.post_content_type = c.type;
        ASSERT_EQ(client.fetch_url(url("cgi-bin/echo").c_str(), out().c_str(), c.kind), 1) << client.status_text;
        EXPECT_EQ(echoed(got(), "Method"), "POST");
        EXPECT_EQ(echoed(got(), "Content-Type"), c.expected_type);
        EXPECT_EQ(echoed(got(), "Content-Length"), std::to_string(c.data.size()));
        EXPECT_EQ(echoed(got(), "Authorization"), "Basic dXNlcjpwYTpzcw==");
        EXPECT_TRUE(echoed_body(got()) == c.data) << "echoed " << echoed_body(got()).size() << " bytes";
    }
}

TEST_F(HttpLighttpd, CancelledFromTheStartStoresNothing)
{
    struct Cancelling : HttpClient {
        int progress(int, long, int64_t) override { return 0; }
    } client;
    EXPECT_EQ(client.fetch_url(url("blob.bin").c_str(), out().c_str(), 0), -1);
    EXPECT_EQ(std::string(client.status_text), "500 127.0.0.1:" + http + " CANCELLED");
    EXPECT_TRUE(client.cancelled);
    EXPECT_FALSE(exists(out()));
}

TEST_F(HttpLighttpd, FetchToStringGivesTheDocumentOrTheStatusText)
{
    HttpsClient client;
    EXPECT_EQ(text(client.fetch_to_string(url("new.html", true).c_str(), 0)), "<html>the new place</html>\n");
    std::string closed = closed_port();
    EXPECT_EQ(text(client.fetch_to_string(("http://127.0.0.1:" + closed + "/x").c_str(), 0)),
              "500 127.0.0.1:" + closed + " CONNECTION FAILED");
    EXPECT_EQ(text(client.fetch_to_string("ftp://127.0.0.1/x", 0)), "500 ftp UNSUPPORTED PROTOCOL");
}

TEST_F(HttpLighttpd, UrlOptionStoresUnderTheNameInTheExtractFolderAndAttaches)
{
    std::system(("mkdir -p " + work + "/x").c_str());
    CommandResult r = tavrin_to_file("-extract:" + work + "/x '-url:" + url("blob.bin") + "|copy.bin' '-url:" +
                                     url("cgi-bin/echo?x=1") + "'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
    // Under the name given, and under the path's last name cut at '?'.
    EXPECT_TRUE(slurp(work + "/x/copy.bin") == blob);
    std::string echo_page = slurp(work + "/x/echo");
    EXPECT_EQ(echoed(echo_page, "Uri"), "/cgi-bin/echo?x=1");

    std::string parts = python_parts();
    EXPECT_NE(parts.find("copy.bin\t" + std::to_string(blob.size()) + "\t"), std::string::npos) << parts;
    EXPECT_NE(parts.find("echo\t" + std::to_string(echo_page.size()) + "\t"), std::string::npos) << parts;
    EXPECT_TRUE(slurp(work + "/parts/copy.bin") == blob);
    EXPECT_EQ(slurp(work + "/parts/echo"), echo_page);
}

TEST_F(HttpLighttpd, UrlOptionPostsTheFileWithTheTypeRefererAndCredentials)
{
    std::ofstream(out("form.txt"), std::ios::binary) << "first line\nsecond line\r\nthird";
    CommandResult r = tavrin_to_file("-extract:" + work + " -user:user -pass:pa:ss -referer:http://ref.test.example/ "
                                     "-mime:text/plain -post:" + out("form.txt") + " '-url:" + url("cgi-bin/echo") +
                                     "|posted.txt'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string page = got("posted.txt");
    EXPECT_EQ(echoed(page, "Method"), "POST");
    EXPECT_EQ(echoed(page, "Content-Type"), "text/plain");
    EXPECT_EQ(echoed(page, "Authorization"), "Basic dXNlcjpwYTpzcw==");
    EXPECT_EQ(echoed(page, "Referer"), "http://ref.test.example/");
    // Every line end of the file goes as CR LF.
    EXPECT_EQ(echoed_body(page), "first line\r\nsecond line\r\nthird");
}

TEST_F(HttpLighttpd, UrlThatCannotBeFetchedWarnsAndTheMessageGoesWithoutIt)
{
    std::string closed = closed_port();
    std::string bad = "http://127.0.0.1:" + closed + "/gone.txt";
    std::string missing = url("missing.txt");
    CommandResult r = tavrin_to_file("-extract:" + work + " '-url:" + bad + "' '-url:" + missing + "' '-url:" +
                                     url("new.html") + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("WARNING: URL '" + bad + "' does not exist! (0)\r\n"), std::string::npos) << r.err;
    // A status outside 2xx is not attached either: its body is an error page.
    EXPECT_NE(r.err.find("WARNING: URL '" + missing + "' does not exist! (404)\r\n"), std::string::npos) << r.err;
    ASSERT_TRUE(exists(out("out.eml")));
    std::string parts = python_parts();
    EXPECT_EQ(parts.rfind("new.html\t", 0), 0u) << parts;
    EXPECT_EQ(std::count(parts.begin(), parts.end(), '\n'), 1) << parts;
    // A text part: its line ends are the message's.
    std::string page = slurp(work + "/parts/new.html");
    page.erase(std::remove(page.begin(), page.end(), '\r'), page.end());
    EXPECT_EQ(page, "<html>the new place</html>\n");
}

// A proxy played by the test: it takes the request head and answers a
// small document.
TEST(HttpProxyPeer, RequestLineIsAbsoluteAndTheHostLineKeepsTheRule)
{
    struct Case {
        const char* url;
        const char* request_line;
        const char* host_line;
    } cases[] = {
        {"http://origin.test.example:8080/dir/doc.txt?x=1", "GET http://origin.test.example:8080/dir/doc.txt?x=1 HTTP/1.0\r\n",
         "\r\nHost: origin.test.example:8080\r\n"},
        {"http://origin.test.example/doc.txt", "GET http://origin.test.example:80/doc.txt HTTP/1.0\r\n",
         "\r\nHost: origin.test.example\r\n"},
    };
    char t[] = "/tmp/tvproxyXXXXXX";
    ASSERT_NE(mkdtemp(t), nullptr);
    std::string file = std::string(t) + "/doc";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        std::string head;
        LoopbackPeer proxy([&head](int s) {
            char ch;
            while (head.size() < 8192 && head.find("\r\n\r\n") == std::string::npos && ::recv(s, &ch, 1, 0) == 1)
                head += ch;
            LoopbackPeer::send_text(s, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 8\r\n\r\nproxied\n");
        });
        ASSERT_TRUE(proxy.listening());
        HttpClient client;
        client.set_timeout(20);
        client.set_proxy("127.0.0.1", proxy.port().c_str());
        EXPECT_EQ(client.fetch_url(c.url, file.c_str(), 0), 1) << client.status_text;
        proxy.join();
        EXPECT_EQ(head.rfind(c.request_line, 0), 0u) << head;
        EXPECT_NE(head.find(c.host_line), std::string::npos) << head;
        EXPECT_EQ(fixtures::slurp(file), "proxied\n");
    }
    std::system((std::string("rm -rf ") + t).c_str());
}

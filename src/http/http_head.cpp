// The two heads of an HTTP/1.0 exchange: the request head the client
// writes (method line, Referer, Basic authorization, matching cookies,
// Host, the extra headers) and the response head lines it takes apart
// (status, dates, location, type, length, cookies).
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/http_client.h"
#include "platform/nocase.h"

namespace {

void append_format(std::string& out, const char* pattern, const char* a, const char* b = "", const char* c = "",
                   const char* d = "", const char* e = "")
{
    int n = std::snprintf(nullptr, 0, pattern, a, b, c, d, e);
    if (n <= 0) return;
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    std::snprintf(&out[at], static_cast<size_t>(n) + 1, pattern, a, b, c, d, e);
    out.resize(at + static_cast<size_t>(n));
}

// A field that goes into a header line must not end the line early.
bool one_line(const string& text)
{
    for (const char* p = text.c_str(); *p; ++p)
        if (*p == '\r' || *p == '\n') return false;
    return true;
}

bool cookie_matches(const Cookie& cookie, const string& host, const string& path)
{
    size_t dl = cookie.domain.length(), hl = host.length();
    if (dl > hl || nocase_compare(host.c_str() + (hl - dl), cookie.domain.c_str()) != 0) return false;
    const char* prefix = cookie.path.c_str(cookie.path.empty() ? 0 : 1);
    return nocase_compare_n(path.c_str(), prefix, std::strlen(prefix)) == 0;
}

bool starts_nocase(const char* line, const char* prefix)
{
    return nocase_compare_n(line, prefix, std::strlen(prefix)) == 0;
}

// The value after "Name: ", up to the line end or (stop_at_semicolon) a ';'.
string header_value(const char* line, bool stop_at_semicolon)
{
    char value[4096] = "";
    std::sscanf(line, stop_at_semicolon ? "%*[^:]: %4095[^;\r\n]" : "%*[^:]: %4095[^\r\n]", value);
    return value;
}

// "name=" in a Set-Cookie attribute text: the text after '=' up to ';'.
string cookie_attribute(const char* attributes, const char* name)
{
    const char* at = std::strstr(attributes, name);
    if (!at) return string();
    char value[4096] = "";
    std::sscanf(at, "%*[^=]=%4095[^;\r\n]", value);
    return value;
}

// The status number after the version, as "%d" reads it; a number past
// 32 bits is held at the nearest bound rather than wrapped (which could make
// it look like a 2xx).
bool status_number(const char* text, long long& code)
{
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    const char* p = text;
    if (*p == '+' || *p == '-') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    code = std::strtoll(text, nullptr, 10);
    if (code > INT32_MAX) code = INT32_MAX;
    if (code < INT32_MIN) code = INT32_MIN;
    return true;
}

}  // namespace

string HttpClient::request_head(const string& scheme, const string& host, const string& port, const string& path,
                                int kind) const
{
    const string* fields[] = {&scheme, &host, &port, &path, &referer, &authorization, &post_content_type};
    for (const string* f : fields)
        if (!one_line(*f)) return string();
    const char* method = (kind == 1 || kind == 2) ? "POST" : "GET";
    std::string head;
    if (!proxy_host.empty())
        append_format(head, "%s %s://%s:%s/%s HTTP/1.0\r\n", method, scheme.c_str(), host.c_str(), port.c_str(),
                      path.c_str());
    else
        append_format(head, "%s /%s HTTP/1.0\r\n", method, path.c_str());
    if (!referer.empty()) append_format(head, "Referer: %s\r\n", referer.c_str());
    if (!authorization.empty()) append_format(head, "Authorization: %s %s\r\n", "Basic", authorization.c_str());
    int sent = 0;
    ListIterator<Cookie> it(const_cast<List<Cookie>&>(cookies));
    Cookie cookie;
    while (it.next(cookie)) {
        if (!cookie_matches(cookie, host, path)) continue;
        head += sent++ ? ";" : "Cookie:";
        append_format(head, " %s", cookie.value.c_str());
    }
    if (sent) head += "\r\n";
    if (port == "80") append_format(head, "Host: %s\r\n", host.c_str());
    else append_format(head, "Host: %s:%s\r\n", host.c_str(), port.c_str());
    head.append(extra_headers.c_str(), extra_headers.length());
    head += "Connection: close\r\n";
    if (kind == 1 || kind == 2) {
        append_format(head, "Content-Type: %s\r\n",
                      kind == 2 ? post_content_type.c_str() : "application/x-www-form-urlencoded");
        head += "Content-Length: " + std::to_string(post_data.length()) + "\r\n";
    }
    head += "\r\n";
    if (head.size() > max_request_head) return string();
    return string(head.data(), head.size());
}

void HttpClient::take_head_line(const char* line, const string& host, ResponseHead& head)
{
    float version;
    int at = 0;
    long long code = 0;
    if (std::sscanf(line, "HTTP/%f%n", &version, &at) >= 1 && status_number(line + at, code)) {
        status_code = static_cast<int32_t>(code);
        if (code < 200 || code > 299) {
            head.failed = true;
            if (verbose) error_stream << "Not found\r\n";
        }
    } else if (starts_nocase(line, "Last-Modified:")) {
        last_modified = header_value(line, false);
    } else if (starts_nocase(line, "Expires:")) {
        expires = header_value(line, false);
    } else if (starts_nocase(line, "Location:")) {
        head.location = header_value(line, false);
    } else if (starts_nocase(line, "Date:")) {
        // read and dropped
    } else if (starts_nocase(line, "Content-Type:")) {
        content_type = header_value(line, true);
    } else if (starts_nocase(line, "Content-Length:")) {
        const char* p = line + std::strlen("Content-Length:");
        while (*p == ' ' || *p == '\t') ++p;
        // Only digits make a length; a sign or more than 18 digits is no
        // length at all, and the body runs to the close. Digits past the
        // 18th are counted, not added, so the sum cannot overflow.
        int64_t length = 0;
        int digits = 0;
        for (; std::isdigit(static_cast<unsigned char>(*p)); ++p, ++digits)
            if (digits < 18) length = length * 10 + (*p - '0');
        if (digits && digits <= 18) head.length = length;
    } else if (starts_nocase(line, "Set-Cookie:")) {
        char value[4096] = "", attributes[4096] = "";
        if (std::sscanf(line, "%*[^:]: %4095[^;\r\n] %4095[^\r\n]", value, attributes) < 1) return;
        if (cookies.count() >= max_cookies) return;
        Cookie cookie;
        cookie.value = value;
        cookie.domain = cookie_attribute(attributes, "domain=");
        if (cookie.domain.empty()) cookie.domain = host;
        cookie.path = cookie_attribute(attributes, "path=");
        if (cookie.path.empty()) cookie.path = "/";
        cookie.expires = cookie_attribute(attributes, "expires=");
        cookies.add(cookie);
    }
}

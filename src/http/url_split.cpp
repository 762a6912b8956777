// scheme://host:port/path#fragment, taken apart the lenient way: the scheme
// is what comes before a ':' that precedes every '#', '/' and '?'; the
// path carries no leading '/' and keeps its query. Only IPv4 hosts and names
// are known here: no user part, no bracketed address.
#include <cstring>

#include "http/http_client.h"

int HttpClient::split_url(const char* text, string& scheme, string& host, string& port, string& path,
                          string& fragment)
{
    scheme = host = port = path = fragment = string();
    if (!text || !*text) return 0;
    const char* rest = text;
    const char* first = std::strpbrk(text, "#/?:");
    if (first && *first == ':') {
        scheme = string(text, static_cast<size_t>(first - text));
        rest = first + 1;
    }
    if (rest[0] == '/' && rest[1] == '/') {
        rest += 2;
        // A port's ':' comes before the path: one in the path or the query
        // ("/a:b", "?t=1:2") is not a port.
        const char* colon = std::strchr(rest, ':');
        const char* authority_end = std::strchr(rest, '/');
        if (colon && authority_end && colon > authority_end) colon = nullptr;
        if (colon) {
            host = string(rest, static_cast<size_t>(colon - rest));
            const char* slash = std::strchr(colon + 1, '/');
            if (!slash) {
                port = colon + 1;
                return 1;
            }
            port = string(colon + 1, static_cast<size_t>(slash - colon - 1));
            rest = slash + 1;
        } else {
            const char* slash = std::strchr(rest, '/');
            if (!slash) {
                host = rest;
                return 1;
            }
            host = string(rest, static_cast<size_t>(slash - rest));
            rest = slash + 1;
        }
    }
    const char* hash = std::strchr(rest, '#');
    if (hash) {
        path = string(rest, static_cast<size_t>(hash - rest));
        fragment = hash + 1;
    } else {
        path = rest;
    }
    return 1;
}

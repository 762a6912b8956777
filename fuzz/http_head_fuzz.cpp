// A response head of any bytes, line by line, into the client; then the
// request head it would send next (with the cookies it took), the
// redirect target of its location, and the lines split as URLs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/http_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    HttpClient client;
    HttpClient::ResponseHead head;
    size_t at = 0;
    while (at < input.size()) {
        size_t end = input.find('\n', at);
        if (end == std::string::npos) end = input.size();
        // Lines as the socket gives them: at most 1023 bytes, no NUL inside.
        std::string line = input.substr(at, end - at).substr(0, HttpClient::head_line_size - 1);
        line = line.substr(0, std::strlen(line.c_str()));
        client.take_head_line(line.c_str(), "fuzz.test", head);
        string scheme, host, port, path, fragment;
        HttpClient::split_url(line.c_str(), scheme, host, port, path, fragment);
        at = end + 1;
    }
    string request = client.request_head("http", "www.fuzz.test", "80", "a/b", 1);
    if (request.length() > HttpClient::max_request_head) std::abort();
    string target = HttpClient::redirect_target(head.location, "http", "fuzz.test", "80");
    if (target.empty() && !head.location.empty()) std::abort();
    return 0;
}

#include "engine/url_attachment.h"

#include <cstring>
#include <string>

#include "base/text_stream.h"
#include "engine/option_state.h"
#include "engine/run_state.h"
#include "http/http_client.h"

namespace {

// What follows the last '/' of the URL's path, cut at its last '|' and then
// at its first '?'.
string derived_name(const string& path)
{
    std::string name = path.c_str();
    size_t slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    size_t bar = name.rfind('|');
    if (bar != std::string::npos) name.erase(bar);
    size_t query = name.find('?');
    if (query != std::string::npos) name.erase(query);
    return string(name.data(), name.size());
}

}  // namespace

void attach_url_document(const string& value, UrlSource source)
{
    OptionState& o = options();
    std::string url = value.c_str();
    string folder;
    if (!o.extract_path.empty()) folder = o.extract_path + "/";

    string scheme, host, port, path, fragment;
    HttpClient::split_url(url.c_str(), scheme, host, port, path, fragment);
    string local_name = derived_name(path);
    size_t bar = url.rfind('|');
    if (bar != std::string::npos) {
        local_name = url.c_str() + bar + 1;
        url.erase(bar);
    }
    // A name from a web request stays in its folder.
    if (source == UrlSource::web_form && (std::strstr(local_name.c_str(), "..") || std::strchr(local_name.c_str(), '/') ||
                                          std::strchr(local_name.c_str(), '\\'))) {
        error_stream << "WARNING: URL '" << url.c_str() << "' does not exist! (0)\r\n";
        return;
    }
    string local_path = folder + local_name;
    TextStream& lines = source == UrlSource::option ? error_stream : report_stream;
    if (o.verbose >= 1 && source != UrlSource::web_form)
        report_stream << "Scheme = '" << scheme << "', host = '" << host << ", port = '" << port << "', file = '"
                      << path << "', localname = '" << local_path << "'\n";
    if (!scheme.equals_nocase("http") && !scheme.equals_nocase("https")) return;
    o.url = string(url.data(), url.size());

    HttpsClient client;
    client.verbose = o.verbose;
    client.set_timeout(process_state().timeout);
    if (!o.user.empty()) client.set_credentials(o.user.c_str(), o.pass.c_str());
    if (!o.proxy_host.empty()) client.set_proxy(o.proxy_host.c_str(), o.proxy_port.c_str());
    if (!o.referer.empty()) client.referer = o.referer;
    int kind = source == UrlSource::configuration ? 0 : o.post;
    if (source == UrlSource::option && o.post == 2) {
        client.post_content_type = o.mime;
        client.post_data = o.msg;
    }
    int result = client.fetch_url(url.c_str(), local_path.c_str(), kind);
    if (o.verbose >= 1) {
        if (source == UrlSource::option) lines << "Got: " << std::to_string(client.bytes_received).c_str() << " bytes\n";
        lines << client.transcript;
    }
    // A document the server did not give (no answer, or a status outside
    // 2xx, whose body is only an error page) is not attached either.
    if (result <= 0) {
        error_stream << "WARNING: URL '" << url.c_str() << "' does not exist! (" << client.status_code << ")\r\n";
        return;
    }
    run_state().current_transport().add_attachment(local_path.c_str(), "", 0);
    run_state().attachment_list.add(local_path);
}

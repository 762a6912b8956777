// The reader base: connecting, the results of the last parse and the
// accessors the receive driver reads them with.
#include "retrieve/read_mail.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/header_words.h"
#include "base/text_stream.h"

namespace {

void free_texts_and_clear(ListOf& list)
{
    ListOfIterator it(list);
    void* p;
    for (int more = it.first(p); more; more = it.next(p)) std::free(p);
    list.clear();
}

const char* or_default(const string& value, const char* otherwise)
{
    return value.empty() ? otherwise : value.c_str();
}

}  // namespace

ReadMail::ReadMail() { timeout = 300; }

ReadMail::~ReadMail() { clear_results(); }

void ReadMail::clear_results()
{
    free_texts_and_clear(att_data);
    att_sizes.clear();
    free_texts_and_clear(att_names);
    free_texts_and_clear(att_types);
    free_texts_and_clear(att_ids);
    for (IteratedListOf* list : {&att_data, &att_sizes, &att_names, &att_types, &att_ids}) list->rewind();
    header_map.clear();
    boundary_stack.clear();
    body_text_.reset();
    body_size_ = 0;
    for (string* field : {&hdr_subject, &hdr_reply_to, &hdr_from, &hdr_to, &hdr_cc, &hdr_date, &hdr_message_id,
                          &hdr_references, &hdr_notify_to, &hdr_sensitivity, &hdr_content_type, &word_charset,
                          &hdr_charset, &att_filename, &hdr_content_id, &hdr_content_location, &hdr_content_base})
        field->clear();
}

int ReadMail::disconnect()
{
    clear_results();
    reply[0] = 0;
    return close();
}

int ReadMail::open_connection(const string& host, const string& port, const char* cert, int verify)
{
    if (connected()) disconnect();
    bool tunnel = !tunnel_host.empty();
    connect_host = tunnel ? tunnel_host : host;
    connect_port = tunnel ? tunnel_port : port;
    reply[0] = 0;
    int r = connect(connect_host.c_str(), connect_port.c_str());
    if (r < 0) return r;
    if (!firewall_line.empty() && send_command("%s\r\n", firewall_line.c_str()) <= 0) return -1;
    if (tunnel && (r = open_tunnel(host.c_str(), port.c_str())) <= 0) return r;
    if (use_tls && !start_tls(cert, verify)) {
        close();
        return 0;
    }
    return 1;
}

int ReadMail::retrieve_headers(int n)
{
    return headers_only([this, n] { return retrieve(n); });
}

string ReadMail::decoded(const char* text, size_t length)
{
    string value(text, length);
    // Only a value with an encoded word needs decoding (and the decoder
    // reads C text: a NUL byte of a value without one must not cut it).
    bool encoded = std::string(text, length).find("=?") != std::string::npos;
    return decode_headers && encoded ? decode_header_text(value.c_str(), &word_charset) : value;
}

string ReadMail::subject_or_default() const { return or_default(hdr_subject, "[no subject]"); }

string ReadMail::to_or_unknown() const { return or_default(hdr_to, "[unknown]"); }

string ReadMail::sender() const { return or_default(hdr_from, or_default(hdr_reply_to, "[unknown]")); }

string ReadMail::reply_address() const { return or_default(hdr_reply_to, or_default(hdr_from, "[unknown]")); }

string ReadMail::date_or_unknown() const { return or_default(hdr_date, "[unknown]"); }

const char* ReadMail::text() const { return body_text_ ? body_text_.get() : ""; }

const char* ReadMail::priority_text() const
{
    static const char* const names[] = {"", "High", "Low", "Normal"};
    return priority >= 1 && priority <= 3 ? names[priority] : "";
}

const char* ReadMail::next_attachment()
{
    void *data = nullptr, *size = nullptr, *name = nullptr, *type = nullptr, *id = nullptr;
    if (!att_data.next(data)) return nullptr;
    att_sizes.next(size);
    att_names.next(name);
    att_types.next(type);
    att_ids.next(id);
    body_length = reinterpret_cast<uintptr_t>(size);
    att_filename = name ? static_cast<const char*>(name) : "";
    hdr_content_id = id ? static_cast<const char*>(id) : "";
    hdr_content_type = type ? static_cast<const char*>(type) : "";
    const char* charset = std::strstr(hdr_content_type.c_str(), "charset=");
    hdr_charset = charset ? charset + 8 : "";
    return static_cast<const char*>(data);
}

string ReadMail::attachment_mime_type() const
{
    if (hdr_content_type.empty()) return "text/plain";
    const char* t = hdr_content_type.c_str();
    size_t n = std::strcspn(t, ";\r\n");
    return string(t, n < 255 ? n : 255);
}

string ReadMail::take_header(const char* name)
{
    std::string key = name ? name : "";
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    string value;
    if (!header_map.find(string(key.c_str()), value)) return string();
    header_map.remove(string(key.c_str()));
    return value;
}

#include "send/tp_client.h"

#include <cstdio>
#include <cstring>

#include "send/dot_stuffing.h"

TpClient::TpClient()
{
    timeout = 300;
    composer.listener = this;
}

TpClient::~TpClient() = default;

void TpClient::set_buffer_size(int size)
{
    Connection::set_buffer_size(size);
    composer.piece_size = static_cast<size_t>(size > 0 ? size : 4096);
}

void TpClient::set_trace_level(int level) { trace_level = composer.trace_level = level; }

int TpClient::load_recipients(const char*) { return 0; }

int TpClient::progress(int) { return 0; }

int TpClient::open_connection(const char* host_text, const char* port_text, const char* cert_file, int tls_level)
{
    bool tunnel = !tunnel_host.empty();
    host = tunnel ? tunnel_host : string(host_text);
    port = tunnel ? tunnel_port : string(port_text);
    reply[0] = 0;
    int r = connect_host_list(host.c_str(), port.c_str());
    if (r <= 0) return r;
    if (!firewall.empty() && send(firewall.c_str(), firewall.length()) <= 0) return -1;
    if (tunnel && (r = open_tunnel(host_text, port_text)) <= 0) return r;
    if (implicit_tls && !start_tls(cert_file, tls_level)) {
        close();
        return 0;
    }
    return read_reply();
}

int TpClient::read_reply()
{
    int n = read_reply_line();
    if (n <= 0) return n;
    if (reply[0] >= '1' && reply[0] <= '3') return 1;
    if (reply[0] >= '4' && reply[0] <= '9') return -1;
    return 0;
}

int TpClient::quit()
{
    set_timeout(30);
    int r = send_command("QUIT\r\n");
    if (r <= 0) return r;
    return read_reply();
}

int TpClient::disconnect()
{
    clear_attachments(0);
    if (connected()) quit();
    reply[0] = 0;
    return close();
}

int TpClient::composer_failure(int result, const char* otherwise)
{
    std::snprintf(reply, sizeof reply, "%s", composer.error().empty() ? otherwise : composer.error().c_str());
    return result <= 0 ? result : -1;
}

int TpClient::send_message(const Envelope& envelope, const char* body, size_t length)
{
    if (envelope.from.empty() || envelope.to.empty()) return -1;
    return transmit(envelope, false, body, length);
}

int TpClient::send_message_lists(const Envelope& envelope, const char* body, size_t length)
{
    return transmit(envelope, true, body, length);
}

int TpClient::transmit(const Envelope& envelope, bool lists, const char* body, size_t length)
{
    data_sent = 0;
    composer.begin_message(host.c_str());
    ConnectionSink wire(*this);
    DotStuffingSink stuffed(wire);
    ByteSink& out = no_terminator ? static_cast<ByteSink&>(wire) : stuffed;
    int r = composer.write_message(envelope, lists, body, length, out, !no_terminator);
    if (r > 0 && !no_terminator) stuffed.finish();
    if (r <= 0 || out.failed()) {
        // The server still takes message text: any command now would land
        // in the message, so the connection ends here, without QUIT.
        close();
        return composer_failure(r, "the connection failed while the message was sent");
    }
    data_sent = 1;
    if (no_terminator) return flush();
    if ((r = send_command(".\r\n")) <= 0) return r;
    if (trace_level) *echo_stream << (composer.was_multipart() ? "data sent1" : "data sent2") << "\r\n";
    return read_reply();
}

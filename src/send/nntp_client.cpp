#include "send/nntp_client.h"

#include <cstring>
#include <string>

#include "send/smtp_client.h"

int NntpClient::authenticate()
{
    authenticating_ = true;
    int r = send_command("AUTHINFO USER %s\r\n", user.c_str());
    if (r > 0) r = TpClient::read_reply();
    if (r > 0 && std::strncmp(reply, "381", 3) == 0) {
        r = send_command("AUTHINFO PASS %s\r\n", password.c_str());
        if (r > 0) r = TpClient::read_reply();
    }
    authenticating_ = false;
    return r <= 0 ? r : 1;
}

int NntpClient::login(const char* u, const char* p)
{
    user = u ? u : "";
    password = p ? p : "";
    return authenticate();
}

int NntpClient::read_reply()
{
    int r = TpClient::read_reply();
    if (r >= 0 || authenticating_ || std::strncmp(reply, "480", 3) != 0 || user.empty()) return r;
    // Authentication required: log in, then the refused command once more.
    std::string refused = last_command().c_str();
    while (!refused.empty() && (refused.back() == '\n' || refused.back() == '\r')) refused.pop_back();
    if (refused.empty()) return r;
    int a = authenticate();
    if (a <= 0) return a;
    if ((r = send_command("%s\r\n", refused.c_str())) <= 0) return r;
    return TpClient::read_reply();
}

int NntpClient::post()
{
    int r = send_command("POST\r\n");
    if (r <= 0) return r;
    return read_reply();
}

int NntpClient::send_message(const Envelope& envelope, const char* body, size_t length)
{
    if (envelope.from.empty() || envelope.to.empty()) return -1;
    int r = post();
    if (r <= 0) return r;
    return TpClient::send_message(envelope, body, length);
}

namespace {

string joined(const List<string>& list)
{
    string text;
    ListIterator<string> it(const_cast<List<string>&>(list));
    string entry;
    for (int more = it.first(entry); more; more = it.next(entry)) {
        if (!text.empty()) text += ",";
        text += entry;
    }
    return text;
}

}  // namespace

int NntpClient::send_message_lists(const Envelope& envelope, const char* body, size_t length)
{
    Envelope texts = envelope;
    texts.to = joined(envelope.to_list);
    texts.cc = joined(envelope.cc_list);
    texts.bcc = joined(envelope.bcc_list);
    if (texts.from.empty() || texts.to.empty()) return -1;
    int r = post();
    if (r <= 0) return r;
    return TpClient::send_message(texts, body, length);
}

int MyNntpClient::progress(int percent)
{
    write_progress_file(meter_file, percent, last_write, true);
    return result_value;
}

// The SMTP transport: greeting, EHLO with capabilities (HELO when refused),
// STARTTLS, AUTH, the envelope in transactions of limited size, DATA, RSET,
// ETRN.
#pragma once

#include <string>
#include <vector>

#include "send/tp_client.h"

class SmtpClient : public TpClient {
public:
    SmtpClient() = default;
    ~SmtpClient() override;
    const char* kind() const override { return "SMTP"; }

    int open_connection(const char* host, const char* port, const char* cert, int level) override;
    int send_message_lists(const Envelope& envelope, const char* body, size_t length) override;
    int send_message(const Envelope& envelope, const char* body, size_t length) override;
    int load_recipients(const char* file) override;
    int login(const char* user, const char* password) override;
    int read_reply() override;
    // -1 when the server did not announce ETRN, else the reply's result.
    int etrn(const char* domain);

    int esmtp_active = 0;
    int cap_etrn = 0, cap_dsn = 0, cap_onex = 0, cap_8bitmime = 0, cap_chunking = 0, cap_starttls = 0;
    int cap_auth_login = 0, cap_auth_plain = 0, cap_auth_cram = 0;
    int esmtp = 1;
    int continue_on_refusal = 0;
    int probe = 0;
    int first_transaction = 0;
    ListOf extra_recipients;
    // The EHLO name a script set; when empty the machine's own name is
    // used, computed once for the process.
    string greeting;

    const char* greeting_name();

private:
    struct Recipient {
        std::string address;
        bool with_dsn;
    };
    void clear_capabilities();
    void parse_capability(const char* line);
    int hello();
    int mail_from(const Envelope& envelope);
    void take_extra_recipients(std::vector<Recipient>& recipients, bool with_dsn);
    // Offers RCPTs from next on, up to the limit (of offers, or of accepted
    // recipients); refused is set when a refusal ends the send.
    int place_recipients(const std::vector<Recipient>& recipients, size_t& next, bool limit_offers, int& accepted,
                         bool& refused);
    int rcpt(const Recipient& r);
    // DATA, then the composed message.
    int data(const Envelope& envelope, bool lists, const char* body, size_t length);
};

class MySmtpClient : public SmtpClient {
public:
    explicit MySmtpClient(const string& meter_file) : meter_file(meter_file) {}
    int progress(int percent) override;

    string meter_file;
    long last_write = 0;
    int result_value = 0;
};

// The bare address of an address text: between '<' and '>', else before a
// '(' comment, else the whole text, blanks removed.
std::string reduce_address(const char* text);
// The entries of a comma-separated recipient text that get an RCPT.
std::vector<std::string> rcpt_entries(const char* text);
// Writes a progress percentage file, at most once a second unless always.
void write_progress_file(const string& path, int percent, long& last_write, bool always);

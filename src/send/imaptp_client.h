// The IMAP-upload transport: the composed message is appended to a folder
// of an IMAP server as one literal, flagged \Seen. Greeting, CAPABILITY,
// STARTTLS and referrals as the server asks; CRAM-MD5, PLAIN, LOGIN or the
// LOGIN command; APPENDUID is kept when the server has UIDPLUS.
#pragma once

#include <cstdint>
#include <string>

#include "send/tp_client.h"

class ImaptpClient : public TpClient {
public:
    // Referrals followed in a row, at the greeting and at login.
    static constexpr int max_referrals = 3;

    ImaptpClient() { no_terminator = 1; }
    const char* kind() const override { return "IMAP upload"; }

    int disconnect() override;
    int open_connection(const char* host, const char* port, const char* cert, int level) override;
    int send_message_lists(const Envelope& envelope, const char* body, size_t length) override;
    int send_message(const Envelope& envelope, const char* body, size_t length) override;
    int login(const char* user, const char* password) override;
    int quit() override;
    int read_reply() override;

    // The folder messages go to when the name is not empty; whether it was set.
    bool set_folder(const char* name);

    string folder = "INBOX";
    string user, password;
    // -1 while the greeting is awaited.
    int64_t tag = -1;
    int cap_starttls = 0, cap_uidplus = 0, cap_auth_login = 0, cap_auth_plain = 0, cap_auth_cram = 0;
    int capabilities_seen = 0;
    unsigned long append_uid_validity = 0, append_uid = 0;

private:
    void clear_capabilities();
    void take_capabilities(const char* text);
    int command(const char* pattern, const char* argument = nullptr);
    int capability();
    int open_with_referrals(const char* host, const char* port, const char* cert, int level, int hops);
    int login_with_referrals(const char* user, const char* password, int hops);
    int authenticate();
    int upload(const Envelope& envelope, bool lists, const char* body, size_t length);
};

class MyImaptpClient : public ImaptpClient {
public:
    explicit MyImaptpClient(const string& meter_file) : meter_file(meter_file) {}
    int progress(int percent) override;

    string meter_file;
    long last_write = 0;
    int result_value = 0;
};

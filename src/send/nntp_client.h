// The news transport: the composed message is posted as an article. The
// recipients become its Newsgroups line; AUTHINFO USER/PASS logs in, and a
// command refused with 480 logs in again and is sent once more.
#pragma once

#include "send/tp_client.h"

class NntpClient : public TpClient {
public:
    NntpClient() { composer.news = 1; }
    const char* kind() const override { return "NNTP"; }

    int login(const char* user, const char* password) override;
    int send_message(const Envelope& envelope, const char* body, size_t length) override;
    int send_message_lists(const Envelope& envelope, const char* body, size_t length) override;
    int read_reply() override;

    void set_no_archive(int on) { composer.no_archive = on; }

    string user, password;

private:
    int authenticate();
    int post();
    bool authenticating_ = false;
};

class MyNntpClient : public NntpClient {
public:
    explicit MyNntpClient(const string& meter_file) : meter_file(meter_file) {}
    int progress(int percent) override;

    string meter_file;
    long last_write = 0;
    int result_value = 0;
};

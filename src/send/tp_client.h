// The transports: TpClient and its SMTP, news, IMAP-upload and file variants.
#pragma once

#include "base/text_string.h"

class TpClient {
public:
    virtual ~TpClient() = default;
    virtual const char* kind() const = 0;
};

// Transports that rewrite a progress file ("-meter:") during transfers.
class MeteredTpClient : public TpClient {
public:
    explicit MeteredTpClient(const string& meter_file) : meter_file(meter_file) {}
    string meter_file;
};

class MySmtpClient : public MeteredTpClient {
public:
    using MeteredTpClient::MeteredTpClient;
    const char* kind() const override { return "SMTP"; }
};

class MyNntpClient : public MeteredTpClient {
public:
    using MeteredTpClient::MeteredTpClient;
    const char* kind() const override { return "NNTP"; }
};

class MyImaptpClient : public MeteredTpClient {
public:
    using MeteredTpClient::MeteredTpClient;
    const char* kind() const override { return "IMAP upload"; }
};

class FiletpClient : public TpClient {
public:
    const char* kind() const override { return "file"; }
};

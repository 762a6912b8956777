// The transports: TpClient and its SMTP, news, IMAP-upload and file variants.
#pragma once

#include "base/lists.h"
#include "base/text_string.h"

class TpClient {
public:
    TpClient() = default;
    TpClient(const TpClient&) = delete;
    TpClient& operator=(const TpClient&) = delete;
    virtual ~TpClient();
    virtual const char* kind() const = 0;

    // Attaches a file: related 0 as an attachment, 1 as an inline object of
    // an HTML body. The location is a name, a content id or a URL.
    void add_attachment(const char* path, const char* location, int related);
    // Empties both lists; with delete_files the attached files are removed.
    void clear_attachments(int delete_files);
    int32_t attachment_count() { return attachment_files.count(); }
    int32_t related_count() { return related_files.count(); }

    int vpim = 0;  // voice-message attachments

    // Four lists of heap texts, filled in pairs.
    ListOf attachment_files, attachment_locations;
    ListOf related_files, related_locations;
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

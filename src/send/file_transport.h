// The file transport ("-mf"): a message written to a file exactly as it
// would go on the wire, without the final ".". Every write and the close
// are checked: a message that did not reach the file is a failure.
#pragma once

#include <cstdint>
#include <cstdio>

#include "send/tp_client.h"

class FiletpClient : public TpClient {
public:
    FiletpClient() = default;
    ~FiletpClient() override;
    const char* kind() const override { return "file"; }

    int disconnect() override;
    // host: a folder and port: an extension, giving a new file name in the
    // folder; or host alone: the file's name.
    int open_connection(const char* host, const char* port, const char* cert, int level) override;
    int send_message(const Envelope& envelope, const char* body, size_t length) override;
    int send_message_lists(const Envelope& envelope, const char* body, size_t length) override;
    int login(const char*, const char*) override { return 1; }
    // Flushes and closes the file: 1, or -1 when the file could not be
    // completed.
    int quit() override;
    int read_reply() override { return 1; }
    int complete() override { return quit(); }

    // The name of the file the last message went to.
    string file_name;

private:
    int write_file(const Envelope& envelope, bool lists, const char* body, size_t length);
    // After a failed message: the file back to its last whole message, or
    // removed when it holds none.
    void take_back();
    FILE* file_ = nullptr;
    int64_t good_size_ = 0;  // where the last whole message ends
    bool created_ = false;   // the file is a new one of ours (folder form)
};

// The file transport ("-mf"): a message written to a file exactly as it
// would go on the wire, without the final ".".
#pragma once

#include <cstdio>

#include "send/tp_client.h"

class FiletpClient : public TpClient {
public:
    FiletpClient();
    ~FiletpClient() override;
    const char* kind() const override { return "file"; }

    int write(const char* data, int n) override;
    int disconnect() override;
    // host: a folder and port: an extension, giving a new file name in the
    // folder; or host alone: the file's name.
    int open_connection(const char* host, const char* port, const char* cert, int level) override;
    int login(const char*, const char*) override { return 1; }
    int quit() override;
    int read_reply() override { return 1; }

    // The name of the file the last message went to.
    string file_name;

private:
    FILE* file_ = nullptr;
};

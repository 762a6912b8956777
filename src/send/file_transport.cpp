#include "send/file_transport.h"

#include <cstdio>
#include <ctime>

#include "platform/paths.h"

namespace {

unsigned long file_counter = 1;

}  // namespace

FiletpClient::FiletpClient() { no_terminator = 1; }

FiletpClient::~FiletpClient() { quit(); }

int FiletpClient::open_connection(const char* host_text, const char* port_text, const char*, int)
{
    quit();
    host = host_text ? host_text : "";
    port = port_text ? port_text : "";
    if (!host.empty() && !port.empty()) {
        char name[64];
        std::snprintf(name, sizeof name, "%lu-%03lu.", static_cast<unsigned long>(time(nullptr)), file_counter % 1000);
        ++file_counter;
        file_name = join_path(host, string(name) + port);
    } else {
        file_name = host;
    }
    file_ = std::fopen(file_name.c_str(), "wb");
    if (!file_) {
        std::snprintf(reply, sizeof reply, "cannot write %s", file_name.c_str());
        return -1;
    }
    open_count = 1;  // a file counts as a connection while it is open
    return 1;
}

int FiletpClient::write(const char* data, int n)
{
    if (!file_) return -1;
    return std::fwrite(data, 1, static_cast<size_t>(n), file_) == static_cast<size_t>(n) ? n : -1;
}

int FiletpClient::quit()
{
    if (!file_) return 1;
    int ok = std::fflush(file_) == 0;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    open_count = 0;
    return ok ? 1 : -1;
}

int FiletpClient::disconnect()
{
    clear_attachments(0);
    return quit();
}

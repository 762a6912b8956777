#include "send/file_transport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/paths.h"

namespace {

unsigned long file_counter = 1;

}  // namespace

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
        std::snprintf(reply, sizeof reply, "cannot write %s: %s", file_name.c_str(), std::strerror(errno));
        return -1;
    }
    open_count = 1;  // a file counts as a connection while it is open
    return 1;
}

int FiletpClient::write_file(const Envelope& envelope, bool lists, const char* body, size_t length)
{
    data_sent = 0;
    if (!file_) {
        std::snprintf(reply, sizeof reply, "no file is open");
        return -1;
    }
    if (composer.check_headers(envelope, lists) <= 0) return composer_failure(-1);
    composer.begin_message(host.c_str());
    FileSink sink(file_);
    int r = composer.write_message(envelope, lists, body, length, sink, false);
    if (r > 0) sink.flush();
    if (sink.error()) {
        std::snprintf(reply, sizeof reply, "cannot write %s: %s", file_name.c_str(), std::strerror(sink.error()));
        return -1;
    }
    if (r <= 0) return composer_failure(r);
    data_sent = 1;
    return 1;
}

int FiletpClient::send_message(const Envelope& envelope, const char* body, size_t length)
{
    if (envelope.from.empty() || envelope.to.empty()) return -1;
    return write_file(envelope, false, body, length);
}

int FiletpClient::send_message_lists(const Envelope& envelope, const char* body, size_t length)
{
    return write_file(envelope, true, body, length);
}

int FiletpClient::quit()
{
    if (!file_) return 1;
    int ok = std::fflush(file_) == 0 && !std::ferror(file_);
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    open_count = 0;
    if (!ok) std::snprintf(reply, sizeof reply, "cannot write %s: %s", file_name.c_str(), std::strerror(errno));
    return ok ? 1 : -1;
}

int FiletpClient::disconnect()
{
    clear_attachments(0);
    return quit();
}

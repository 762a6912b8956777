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
    good_size_ = 0;
    created_ = false;
    if (!host.empty() && !port.empty()) {
        // A new file in the folder: a name another run took in the same
        // second is never replaced, the counter moves on instead.
        for (int attempt = 0; attempt < 1000 && !file_; ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, "%lu-%03lu.", static_cast<unsigned long>(time(nullptr)),
                          file_counter % 1000);
            ++file_counter;
            file_name = join_path(host, string(name) + port);
            file_ = std::fopen(file_name.c_str(), "wbx");
            created_ = file_ != nullptr;
            if (!file_ && errno != EEXIST) break;
        }
    } else {
        file_name = host;
        file_ = std::fopen(file_name.c_str(), "wb");
    }
    if (!file_) {
        std::snprintf(reply, sizeof reply, "cannot write %s: %s", file_name.c_str(), std::strerror(errno));
        return -1;
    }
    open_count = 1;  // a file counts as a connection while it is open
    return 1;
}

void FiletpClient::take_back()
{
    if (!file_) return;
    if (created_ && good_size_ == 0) {
        // A file of our own making that holds no message: it goes.
        std::fclose(file_);
        file_ = nullptr;
        open_count = 0;
        remove_file(file_name.c_str());
        return;
    }
    // A file named by the caller (perhaps a device) is only cut back when
    // it is a plain file.
    if (is_plain_file(file_name.c_str())) truncate_file(file_, good_size_);
}

int FiletpClient::write_file(const Envelope& envelope, bool lists, const char* body, size_t length)
{
    data_sent = 0;
    if (!file_) {
        std::snprintf(reply, sizeof reply, "no file is open");
        return -1;
    }
    composer.begin_message(host.c_str());
    FileSink sink(file_);
    int r = composer.check_headers(envelope, lists);
    if (r > 0) r = composer.write_message(envelope, lists, body, length, sink, false);
    if (r > 0) sink.flush();
    if (r <= 0 || sink.error()) {
        // No half message stays behind: the file goes back to its last
        // whole message.
        if (sink.error())
            std::snprintf(reply, sizeof reply, "cannot write %s: %s", file_name.c_str(), std::strerror(sink.error()));
        else
            composer_failure(r);
        take_back();
        return -1;
    }
    good_size_ = file_offset(file_);
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

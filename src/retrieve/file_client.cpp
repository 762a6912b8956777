// The file reader: messages in local files. Its line, byte and peek reads
// come from the open file, through a block of its own.
#include <cstdio>
#include <cstring>

#include "base/dir_list.h"
#include "platform/paths.h"
#include "retrieve/read_mail.h"

namespace {

constexpr size_t block_size = 65536;

}  // namespace

FileClient::~FileClient() { close_input(); }

void FileClient::close_input()
{
    if (input_) std::fclose(input_);
    input_ = nullptr;
    block_at_ = block_end_ = 0;
}

bool FileClient::fill()
{
    if (!input_) return false;
    if (!block_) block_.reset(new char[block_size]);
    block_at_ = 0;
    block_end_ = std::fread(block_.get(), 1, block_size, input_);
    return block_end_ > 0;
}

int FileClient::read(char* buffer, int n)
{
    int done = 0;
    while (done < n) {
        if (block_at_ == block_end_ && !fill()) break;
        size_t k = block_end_ - block_at_;
        if (k > static_cast<size_t>(n - done)) k = static_cast<size_t>(n - done);
        std::memcpy(buffer + done, block_.get() + block_at_, k);
        block_at_ += k;
        done += static_cast<int>(k);
    }
    return done;
}

// A line up to and with its LF, at most capacity bytes; a longer line goes
// on in the next read. A last line without a line end gets one.
int FileClient::read_line(char* buffer, int capacity)
{
    int stored = 0;
    while (stored < capacity) {
        if (block_at_ == block_end_ && !fill()) {
            if (stored == 0) return 0;
            if (stored < capacity) buffer[stored++] = '\n';
            return stored;
        }
        size_t k = block_end_ - block_at_;
        if (k > static_cast<size_t>(capacity - stored)) k = static_cast<size_t>(capacity - stored);
        const char* from = block_.get() + block_at_;
        const char* lf = static_cast<const char*>(std::memchr(from, '\n', k));
        if (lf) k = static_cast<size_t>(lf - from) + 1;
        std::memcpy(buffer + stored, from, k);
        block_at_ += k;
        stored += static_cast<int>(k);
        if (lf) break;
    }
    ++lines_read;
    return stored;
}

int FileClient::peek_byte(char& out)
{
    if (block_at_ == block_end_ && !fill()) return 0;
    out = block_[block_at_];
    return 1;
}

int FileClient::disconnect()
{
    message_files.clear();
    close_input();
    message_count = 0;
    return ReadMail::disconnect();
}

int FileClient::open_connection(const string& path, const string& pattern, const char*, int)
{
    message_files.clear();
    close_input();
    body_length = 0;
    if (pattern.empty()) {
        message_files.add(path);
        message_count = 1;
        int64_t size = file_size(path.c_str());
        body_length = size > 0 ? static_cast<uint64_t>(size) : 0;
        return 1;
    }
    DirList found(0, 0);
    string wanted = join_path(path, string("*") + pattern);
    found.scan(wanted.c_str(), 0, 0);
    DirEntry entry;
    message_count = 0;
    while (found.take_entry(entry)) {
        message_files.add(entry.path);
        ++message_count;
        int64_t size = file_size(entry.path.c_str());
        if (size > 0) body_length += static_cast<uint64_t>(size);
    }
    return 1;
}

int FileClient::delete_message(int n)
{
    if (n < 1 || n > message_count) return -1;
    ListIterator<string> it(message_files);
    string path;
    int at = 1;
    for (int more = it.first(path); more; more = it.next(path), ++at)
        if (at == n) return remove_file(path.c_str()) == 0 ? 1 : 0;
    return 0;
}

int FileClient::retrieve(int n)
{
    if (n < 1 || n > message_count) return -1;
    ListIterator<string> it(message_files);
    string path;
    int at = 1;
    for (int more = it.first(path); more && at < n; more = it.next(path)) ++at;
    close_input();
    if (is_folder(path.c_str())) return -1;
    input_ = std::fopen(path.c_str(), "rb");
    if (!input_) return -1;
    std::fseek(input_, 0, SEEK_END);
    long size = std::ftell(input_);
    std::fseek(input_, 0, SEEK_SET);
    if (size < 0) size = 0;
    // A message larger than what one parse takes is read as far as it goes.
    uint32_t expected = static_cast<uint64_t>(size) > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
    body_length = static_cast<uint64_t>(size);
    int r = parse(expected, 0);
    close_input();
    last_retrieved = n;
    return r;
}

// The received-message parser on any bytes, read as a message file would
// be (exact size) and as a POP3 transfer (a size hint and a "." end), with
// and without extraction: no crash, no read or write outside a buffer, and
// the part lists always in step.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "retrieve/read_mail.h"

namespace {

class BytesReader : public ReadMail {
public:
    BytesReader(const uint8_t* data, size_t size) : data_(reinterpret_cast<const char*>(data)), size_(size) {}
    const char* kind() const override { return "bytes"; }
    int read_line(char* buffer, int capacity) override
    {
        size_t n = 0;
        while (n < static_cast<size_t>(capacity) && at_ < size_) {
            char c = data_[at_++];
            buffer[n++] = c;
            if (c == '\n') break;
        }
        return static_cast<int>(n);
    }
    int read(char* buffer, int n) override
    {
        int k = 0;
        while (k < n && at_ < size_) buffer[k++] = data_[at_++];
        return k;
    }
    int peek_byte(char& out) override
    {
        if (at_ >= size_) return 0;
        out = data_[at_];
        return 1;
    }

private:
    const char* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    int mode = data[0];
    BytesReader r(data + 1, size - 1);
    r.extract_parts = mode & 1;
    r.prefer_html = (mode >> 1) & 1;
    r.raw_mode = (mode >> 2) & 1;
    r.retrieve_mode = (mode >> 3) & 1;
    if (mode & 16) {
        r.size_is_exact = 0;
        r.dot_stuffed = 1;
    }
    r.parse(static_cast<uint32_t>(size - 1), 0);
    int parts = r.attachment_count();
    if (r.att_sizes.count() != parts || r.att_names.count() != parts || r.att_types.count() != parts ||
        r.att_ids.count() != parts)
        std::abort();
    uint64_t total = 0;
    while (const char* part = r.next_attachment()) {
        if (part[r.body_length] != 0) std::abort();  // every part NUL-terminated at its size
        total += r.body_length;
        if (std::strchr(r.att_filename.c_str(), '/') || std::strchr(r.att_filename.c_str(), '\\')) std::abort();
    }
    if (total != r.attachments_total) std::abort();
    return 0;
}

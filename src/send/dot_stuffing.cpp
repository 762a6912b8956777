#include "send/dot_stuffing.h"

#include <cstring>

namespace {

// Whether the bytes need no change on the wire: every CR has its LF right
// after it, every LF its CR right before it, and no line starts with '.'.
// Encoded message text (base64, quoted-printable) is nearly always so, and
// then goes on without a copy.
bool wire_ready(const char* data, size_t length, bool line_start)
{
    if (length == 0) return true;
    if ((line_start && data[0] == '.') || data[0] == '\n') return false;
    const char* end = data + length;
    for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p))));
         ++p) {
        if (p[-1] != '\r' || (p + 1 < end && p[1] == '.')) return false;
    }
    for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p))));
         ++p) {
        if (p + 1 >= end || p[1] != '\n') return false;
    }
    return true;
}

}  // namespace

void DotStuffingSink::write(const char* data, size_t length)
{
    if (repair_ && !pending_cr_ && wire_ready(data, length, line_start_)) {
        if (length == 0) return;
        next_.write(data, length);
        line_start_ = data[length - 1] == '\n';
        if (next_.failed()) fail();
        return;
    }
    SinkBuffer out(next_);
    size_t i = 0;
    while (i < length) {
        if (pending_cr_) {
            pending_cr_ = false;
            out.put("\r\n", 2);
            line_start_ = true;
            if (data[i] == '\n') {
                ++i;
                continue;
            }
        }
        char c = data[i];
        if (c == '\r' && repair_) {
            pending_cr_ = true;
            ++i;
            continue;
        }
        if (c == '\n') {
            if (repair_) out.put('\r');
            out.put('\n');
            line_start_ = true;
            ++i;
            continue;
        }
        if (line_start_ && c == '.') out.put('.');
        line_start_ = false;
        // The run up to the next line end goes as it is.
        size_t end = i;
        while (end < length && data[end] != '\n' && data[end] != '\r') ++end;
        if (!repair_) {
            while (end < length && data[end] == '\r') {
                ++end;
                while (end < length && data[end] != '\n' && data[end] != '\r') ++end;
            }
        }
        out.put(data + i, end - i);
        i = end;
    }
    out.flush();
    if (next_.failed()) fail();
}

void DotStuffingSink::write_clean_lines(const char* data, size_t length)
{
    if (length == 0) return;
    if (pending_cr_) {
        write(data, length);  // a CR of other text waits for its LF: looked at like any text
        return;
    }
    next_.write(data, length);
    line_start_ = data[length - 1] == '\n';
    if (next_.failed()) fail();
}

void DotStuffingSink::finish()
{
    if (!repair_) return;
    if (pending_cr_ || !line_start_) {
        next_.write("\r\n", 2);
        pending_cr_ = false;
        line_start_ = true;
    }
    if (next_.failed()) fail();
}

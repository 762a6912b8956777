#include "send/dot_stuffing.h"

#include <cstring>

void DotStuffingSink::write(const char* data, size_t length)
{
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

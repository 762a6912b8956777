#include "base/text_stream.h"

#include <cstring>

TextStream report_stream;
TextStream error_stream;

void TextStream::write(const char* bytes, size_t length)
{
    if (!bytes || length == 0) return;
    if (keep_) text_.append(bytes, length);
    if (sink_) {
        std::fwrite(bytes, 1, length, sink_);
        std::fflush(sink_);
    }
}

void TextStream::write(const char* text)
{
    if (text) write(text, std::strlen(text));
}

void TextStream::write_number(long long value)
{
    char digits[24];
    int n = std::snprintf(digits, sizeof digits, "%lld", value);
    write(digits, static_cast<size_t>(n));
}

void clear_report()
{
    report_stream.clear();
    error_stream.clear();
}

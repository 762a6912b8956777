#include "base/uucode.h"

#include <cstdio>

#include "base/text_utils.h"

namespace {

inline char uu_char(unsigned v) { return v == 0 ? '`' : static_cast<char>(v + 32); }

}  // namespace

UuEncoder::UuEncoder(const char* file_name, ByteSink& out) : out_(out) { begin(file_name); }

UuEncoder::UuEncoder(const char* file_name) : own_(new MemorySink), out_(*own_) { begin(file_name); }

void UuEncoder::begin(const char* file_name)
{
    string line = string("begin 644 ") + file_part(file_name) + "\n";
    out_.write(line.c_str(), line.length());
}

void UuEncoder::encode(const void* bytes, size_t count)
{
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    char line[2 + 60 + 1];
    while (count != 0) {
        size_t k = count < 45 ? count : 45;
        size_t n = 0;
        line[n++] = static_cast<char>(k + 32);
        if (dot_doubling && line[0] == '.') line[n++] = '.';
        for (size_t g = 0; g < k; g += 3) {
            unsigned b0 = p[g];
            unsigned b1 = g + 1 < k ? p[g + 1] : 0;
            unsigned b2 = g + 2 < k ? p[g + 2] : 0;
            line[n++] = uu_char(b0 >> 2);
            line[n++] = uu_char(((b0 << 4) | (b1 >> 4)) & 63);
            line[n++] = uu_char(((b1 << 2) | (b2 >> 6)) & 63);
            line[n++] = uu_char(b2 & 63);
        }
        line[n++] = '\n';
        out_.write(line, n);
        p += k;
        count -= k;
    }
}

void UuEncoder::end() { out_.write("`\nend\n", 6); }

UuDecoder::UuDecoder(const char* begin_line)
{
    char file[256] = "";
    if (begin_line) std::sscanf(begin_line, "begin %d %255[^\r\n]", &mode, file);
    name = file;
}

void UuDecoder::decode_line(const char* line, size_t length)
{
    if (!line) return;
    size_t i = 0;
    if (dot_removal && length > 0 && line[0] == '.') i = 1;
    if (i >= length) return;
    auto value = [&](size_t at) -> unsigned {
        return at < length ? (static_cast<unsigned char>(line[at]) - 32u) & 63u : 0u;
    };
    int n = static_cast<int>(value(i++));
    char bytes[3];
    while (n > 0) {
        unsigned a = value(i), b = value(i + 1), c = value(i + 2), d = value(i + 3);
        i += 4;
        bytes[0] = static_cast<char>((a << 2) | (b >> 4));
        bytes[1] = static_cast<char>((b << 4) | (c >> 2));
        bytes[2] = static_cast<char>((c << 6) | d);
        out_.write(bytes, n >= 3 ? 3 : static_cast<size_t>(n));
        n -= 3;
    }
}

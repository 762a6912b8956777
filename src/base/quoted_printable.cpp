#include "base/quoted_printable.h"

#include <cstring>

namespace {

// 1: copied as it is in body mode; 2: a blank, copied unless a line end follows.
struct LiteralTable {
    unsigned char kind[256];
    LiteralTable() : kind()
    {
        for (int c = 33; c <= 126; ++c) kind[c] = 1;
        kind[static_cast<unsigned char>('=')] = 0;
        kind[static_cast<unsigned char>(' ')] = 2;
        kind[static_cast<unsigned char>('\t')] = 2;
    }
};

const LiteralTable literals;
const char hex_digits[] = "0123456789ABCDEF";

inline bool line_end_at(const unsigned char* data, size_t i, size_t length)
{
    return i < length && (data[i] == '\r' || data[i] == '\n');
}

int hex_value(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

size_t qp_encoded_capacity(size_t length)
{
    // Every byte may become three, and a soft break can come every 24 escapes.
    return 3 * length + 3 * (length / 24 + 2) + 16;
}

size_t qp_encode(int& column, const char* input, size_t length, bool header, bool stop_at_angle, char* out,
                 size_t& consumed)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(input);
    char* o = out;
    size_t i = 0;
    while (i < length) {
        unsigned char b = data[i];
        if (stop_at_angle && b == '<') break;

        if (!header && !stop_at_angle && column < 73 && literals.kind[b] && !(b == '.' && column == 1)) {
            // A run of bytes that are copied as they are, up to the column limit.
            size_t limit = i + static_cast<size_t>(73 - column);
            if (limit > length) limit = length;
            size_t j = i;
            while (j < limit) {
                unsigned char k = literals.kind[data[j]];
                if (k == 1 || (k == 2 && !line_end_at(data, j + 1, length))) ++j;
                else break;
            }
            if (j > i) {
                std::memcpy(o, data + i, j - i);
                o += j - i;
                column += static_cast<int>(j - i);
                i = j;
                continue;
            }
        }

        bool blank = b == ' ' || b == '\t';
        bool escape = b > 126 || (b == '.' && column == 1) || (blank && line_end_at(data, i + 1, length)) ||
                      (b < 32 && b != '\t' && b != '\n' && b != '\r') ||
                      (header && (blank || b == '?' || b == '_')) || b == '=';
        if (escape) {
            if (!header && column >= 74) {
                std::memcpy(o, "=\r\n", 3);
                o += 3;
                column = 1;
            }
            o[0] = '=';
            o[1] = hex_digits[b >> 4];
            o[2] = hex_digits[b & 15];
            o += 3;
            column += 3;
        } else if (b == '\r' || header) {
            *o++ = static_cast<char>(b);
        } else if (b == '\n') {
            *o++ = '\n';
            column = 1;
        } else if (column >= 73) {
            std::memcpy(o, "=\r\n", 3);
            o += 3;
            column = 1;
            continue;  // the same byte again, now at the start of a line
        } else {
            *o++ = static_cast<char>(b);
            ++column;
        }
        ++i;
    }
    consumed = i;
    return static_cast<size_t>(o - out);
}

string encode_quoted_printable(int& column, const char* data, size_t length, bool header_mode, bool stop_at_angle,
                               string& rest)
{
    char* out = new char[qp_encoded_capacity(length)];
    size_t consumed = 0;
    size_t n = qp_encode(column, data, length, header_mode, stop_at_angle, out, consumed);
    if (consumed < length) rest = string(data + consumed, length - consumed);
    string result(out, n);
    delete[] out;
    return result;
}

size_t decode_quoted_printable(char* buffer, size_t length)
{
    unsigned char* b = reinterpret_cast<unsigned char*>(buffer);
    size_t w = 0, r = 0;
    while (r < length) {
        unsigned char c = b[r++];
        if (c != '=') {
            b[w++] = c;
            continue;
        }
        if (r >= length) break;  // a lone '=' at the end adds nothing
        int high = hex_value(b[r++]);
        if (high < 0) high = 0;
        if (r < length && b[r] == '=') {
            b[w++] = static_cast<unsigned char>(high);  // that '=' starts the next escape
            continue;
        }
        int low = r < length ? hex_value(b[r++]) : -1;
        b[w++] = static_cast<unsigned char>(low >= 0 ? high * 16 + low : high * 16);
    }
    if (w < length) b[w] = 0;
    return w;
}

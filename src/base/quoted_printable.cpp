#include "base/quoted_printable.h"

#include <cstring>

namespace {

// How the body encoder treats a byte.
enum Kind : unsigned char { escaped, literal, blank, carriage_return, line_feed, full_stop };

struct KindTable {
    unsigned char kind[256];
    KindTable() : kind()
    {
        for (int c = 33; c <= 126; ++c) kind[c] = literal;
        kind[static_cast<unsigned char>('=')] = escaped;
        kind[static_cast<unsigned char>('.')] = full_stop;
        kind[static_cast<unsigned char>(' ')] = blank;
        kind[static_cast<unsigned char>('\t')] = blank;
        kind[static_cast<unsigned char>('\r')] = carriage_return;
        kind[static_cast<unsigned char>('\n')] = line_feed;
    }
};

const KindTable kinds;
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

namespace {

inline char* put_escape(char* o, unsigned char b)
{
    o[0] = '=';
    o[1] = hex_digits[b >> 4];
    o[2] = hex_digits[b & 15];
    return o + 3;
}

inline char* put_soft_break(char* o)
{
    std::memcpy(o, "=\r\n", 3);
    return o + 3;
}

constexpr uint64_t ones = 0x0101010101010101ull;
constexpr uint64_t highs = 0x8080808080808080ull;

inline uint64_t has_zero_byte(uint64_t v) { return (v - ones) & ~v & highs; }

// How many of the eight bytes at p (0 to 8) go out as they are from column
// col: printable or blank, no '=', no DEL, no 8-bit byte, no '.' starting a
// line, and no blank right before a line end. p[8] must be readable.
inline size_t plain_prefix(const unsigned char* p, int col)
{
    if (col == 1 && p[0] == '.') return 0;
    uint64_t x;
    std::memcpy(&x, p, 8);
    uint64_t below_blank = (x - 0x20 * ones) & ~x & highs;
    uint64_t bad = (x & highs) | below_blank | has_zero_byte(x ^ (0x3D * ones)) | has_zero_byte(x ^ (0x7F * ones));
    size_t n = bad ? static_cast<size_t>(__builtin_ctzll(bad)) / 8 : 8;  // the lowest flag is exact
    if (n > 0 && p[n - 1] == ' ' && (p[n] == '\r' || p[n] == '\n')) --n;
    return n;
}

// Body mode: lines of at most 72 literal characters before a soft break.
size_t encode_body(int& column, const unsigned char* data, size_t length, char* out)
{
    char* o = out;
    int col = column;
    size_t i = 0;
    while (i < length) {
        // Up to eight bytes at a time while they are plain and fit on the line.
        while (col <= 65 && i + 9 <= length) {
            size_t n = plain_prefix(data + i, col);
            std::memcpy(o, data + i, 8);  // only n of them count
            o += n, i += n, col += static_cast<int>(n);
            if (n < 8) break;
        }
        if (i >= length) break;
        unsigned char b = data[i];
        unsigned char k = kinds.kind[b];
        if (k == literal && col < 73) {
            *o++ = static_cast<char>(b);
            ++col, ++i;
            continue;
        }
        bool escape = k == escaped || (k == full_stop && col == 1) || (k == blank && line_end_at(data, i + 1, length));
        if (escape) {
            if (col >= 74) o = put_soft_break(o), col = 1;
            o = put_escape(o, b);
            col += 3;
        } else if (k == carriage_return) {
            *o++ = '\r';
        } else if (k == line_feed) {
            *o++ = '\n';
            col = 1;
        } else if (col >= 73) {
            o = put_soft_break(o);
            col = 1;
            continue;  // the same byte again, now at the start of a line
        } else {
            *o++ = static_cast<char>(b);
            ++col;
        }
        ++i;
    }
    column = col;
    return static_cast<size_t>(o - out);
}

// Header mode: only escapes move the column, and nothing breaks lines.
size_t encode_header(int& column, const unsigned char* data, size_t length, bool stop_at_angle, char* out,
                     size_t& consumed)
{
    char* o = out;
    size_t i = 0;
    for (; i < length; ++i) {
        unsigned char b = data[i];
        if (stop_at_angle && b == '<') break;
        bool escape = b > 126 || (b == '.' && column == 1) || (b < 32 && b != '\t' && b != '\n' && b != '\r') ||
                      b == ' ' || b == '\t' || b == '?' || b == '_' || b == '=';
        if (escape) {
            o = put_escape(o, b);
            column += 3;
        } else {
            *o++ = static_cast<char>(b);
        }
    }
    consumed = i;
    return static_cast<size_t>(o - out);
}

}  // namespace

size_t qp_encode(int& column, const char* input, size_t length, bool header, bool stop_at_angle, char* out,
                 size_t& consumed)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(input);
    if (header) return encode_header(column, data, length, stop_at_angle, out, consumed);
    size_t end = length;
    if (stop_at_angle)
        if (const void* angle = std::memchr(data, '<', length)) end = static_cast<size_t>(static_cast<const unsigned char*>(angle) - data);
    consumed = end;
    return encode_body(column, data, end, out);
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

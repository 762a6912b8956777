#include "base/digests.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/base64.h"

namespace {

inline uint32_t rotate_left(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

const uint32_t sine_table[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

const int shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

void transform(uint32_t state[4], const unsigned char block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[4 * i]) | (uint32_t(block[4 * i + 1]) << 8) | (uint32_t(block[4 * i + 2]) << 16) |
               (uint32_t(block[4 * i + 3]) << 24);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) f = (b & c) | (~b & d), g = i;
        else if (i < 32) f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
        else if (i < 48) f = b ^ c ^ d, g = (3 * i + 5) % 16;
        else f = c ^ (b | ~d), g = (7 * i) % 16;
        uint32_t next = b + rotate_left(a + f + sine_table[i] + x[g], shifts[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void md5_init(Md5Context& context)
{
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
    context.count[0] = context.count[1] = 0;
}

void md5_update(Md5Context& context, const void* bytes, size_t count)
{
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    size_t used = (context.count[0] >> 3) & 63;
    uint64_t bits = (uint64_t(context.count[1]) << 32 | context.count[0]) + (uint64_t(count) << 3);
    context.count[0] = static_cast<uint32_t>(bits);
    context.count[1] = static_cast<uint32_t>(bits >> 32);
    if (used) {
        size_t take = 64 - used < count ? 64 - used : count;
        std::memcpy(context.block + used, p, take);
        p += take, count -= take, used += take;
        if (used < 64) return;
        transform(context.state, context.block);
    }
    for (; count >= 64; p += 64, count -= 64) transform(context.state, p);
    std::memcpy(context.block, p, count);
}

void md5_final(unsigned char digest[16], Md5Context& context)
{
    unsigned char length[8];
    for (int i = 0; i < 4; ++i) {
        length[i] = static_cast<unsigned char>(context.count[0] >> (8 * i));
        length[4 + i] = static_cast<unsigned char>(context.count[1] >> (8 * i));
    }
    size_t used = (context.count[0] >> 3) & 63;
    static const unsigned char padding[64] = {0x80};
    md5_update(context, padding, used < 56 ? 56 - used : 120 - used);
    md5_update(context, length, 8);
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<unsigned char>(context.state[i / 4] >> (8 * (i % 4)));
    std::memset(&context, 0, sizeof context);
}

void hmac_md5(const void* text, size_t text_length, const void* key, size_t key_length, unsigned char digest[16])
{
    unsigned char key_block[64] = {0};
    if (key_length > 64) {
        Md5Context c;
        md5_init(c);
        md5_update(c, key, key_length);
        md5_final(key_block, c);
    } else {
        std::memcpy(key_block, key, key_length);
    }
    unsigned char inner_pad[64], outer_pad[64];
    for (int i = 0; i < 64; ++i) {
        inner_pad[i] = key_block[i] ^ 0x36;
        outer_pad[i] = key_block[i] ^ 0x5c;
    }
    unsigned char inner[16];
    Md5Context c;
    md5_init(c);
    md5_update(c, inner_pad, 64);
    md5_update(c, text, text_length);
    md5_final(inner, c);
    md5_init(c);
    md5_update(c, outer_pad, 64);
    md5_update(c, inner, 16);
    md5_final(digest, c);
}

void digest_to_hex(const unsigned char digest[16], char output[33])
{
    for (int i = 0; i < 16; ++i) std::snprintf(output + 2 * i, 3, "%02x", digest[i]);
}

int apop_digest(const char* text, char output[33])
{
    unsigned char digest[16];
    Md5Context c;
    md5_init(c);
    md5_update(c, text, std::strlen(text));
    md5_final(digest, c);
    digest_to_hex(digest, output);
    return 1;
}

string cram_md5_response(const char* challenge_base64, const char* user, const char* password)
{
    std::string challenge = base64_decode(challenge_base64, std::strlen(challenge_base64));
    unsigned char digest[16];
    hmac_md5(challenge.data(), challenge.size(), password, std::strlen(password), digest);
    char hex[33];
    digest_to_hex(digest, hex);
    std::string answer = std::string(user) + " " + hex;
    std::string encoded = base64_encode(answer.data(), answer.size(), 0);
    return string(encoded.data(), encoded.size());
}

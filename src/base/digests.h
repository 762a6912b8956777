// MD5 (RFC 1321), HMAC-MD5 (RFC 2104), and the challenge-response texts
// built on them: CRAM-MD5 (RFC 2195) and APOP (RFC 1939).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/text_string.h"

struct Md5Context {
    uint32_t state[4];
    uint32_t count[2];  // bits fed, low word first
    unsigned char block[64];
};

void md5_init(Md5Context& context);
void md5_update(Md5Context& context, const void* bytes, size_t count);
void md5_final(unsigned char digest[16], Md5Context& context);

void hmac_md5(const void* text, size_t text_length, const void* key, size_t key_length, unsigned char digest[16]);

// 32 lower-case hexadecimal digits and a NUL into output.
void digest_to_hex(const unsigned char digest[16], char output[33]);

// The APOP digest of the greeting's time stamp followed by the password.
int apop_digest(const char* text, char output[33]);

// The base64 answer to a CRAM-MD5 challenge (itself base64), ending in CR LF.
string cram_md5_response(const char* challenge_base64, const char* user, const char* password);

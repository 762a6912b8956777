// Streaming base64 (RFC 4648 alphabet, "=" padding). The encoder breaks
// lines with CR LF once a line has reached the limit (limit 0: no breaks,
// but output that has characters still ends with CR LF at finish). The
// decoder skips every character outside the alphabet. Neither adds a
// terminator: a memory sink holds the true length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/byte_sink.h"

class Base64Encoder {
public:
    Base64Encoder(ByteSink& out, int line_length, char char63 = '/');
    void write(const void* bytes, size_t count);
    void finish();

private:
    void emit(const unsigned char* group, int valid);
    void encode_run(const unsigned char* in, size_t groups, char* out) const;

    SinkBuffer out_;
    const uint16_t* pairs_;  // two characters for every 12-bit value
    std::unique_ptr<uint16_t[]> own_pairs_;
    bool breaking_;
    int limit_;
    unsigned char pending_[3] = {0, 0, 0};
    int pending_count_ = 0;
    int64_t line_length_ = 0;
};

class Base64Decoder {
public:
    explicit Base64Decoder(ByteSink& out, char char63 = '/');
    void write(const void* chars, size_t count);
    void finish();

private:
    SinkBuffer out_;
    const uint32_t* tables_;  // four tables of 256: each value placed at its shift
    std::unique_ptr<uint32_t[]> own_tables_;
    unsigned char pending_[4] = {0, 0, 0, 0};
    int pending_count_ = 0;
};

// One-shot helpers over memory.
std::string base64_encode(const void* bytes, size_t count, int line_length = 0);
std::string base64_decode(const char* text, size_t length);

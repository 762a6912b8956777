// UUencode with the "begin"/"end" frame. Lines end with LF alone.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "base/byte_sink.h"
#include "base/text_string.h"

class UuEncoder {
public:
    // Writes to a sink the caller owns.
    UuEncoder(const char* file_name, ByteSink& out);
    // Writes to a memory sink of its own (read it with memory()).
    explicit UuEncoder(const char* file_name);
    UuEncoder(const UuEncoder&) = delete;
    UuEncoder& operator=(const UuEncoder&) = delete;

    // Feed pieces whose size is a multiple of 45 but for the last.
    void encode(const void* bytes, size_t count);
    void end();
    MemorySink& memory() { return *own_; }

    int dot_doubling = 0;  // a length character '.' (14 bytes) is written twice

private:
    void begin(const char* file_name);
    std::unique_ptr<MemorySink> own_;
    ByteSink& out_;
};

class UuDecoder {
public:
    explicit UuDecoder(const char* begin_line);
    void decode_line(const char* line, size_t length);
    void finish() {}
    MemorySink& memory() { return out_; }

    int mode = 0;
    string name;
    int dot_removal = 0;  // a leading '.' of a line is dropped

private:
    MemorySink out_;
};

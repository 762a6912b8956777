#include "base/base64.h"

#include <cstring>

namespace {

const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint32_t invalid = 0x01000000u;  // set in a decoding table entry outside the alphabet

void fill_pairs(uint16_t* pairs, char char63)
{
    char a[64];
    std::memcpy(a, alphabet, 64);
    a[63] = char63;
    for (unsigned v = 0; v < 4096; ++v) {
        char two[2] = {a[v >> 6], a[v & 63]};
        std::memcpy(&pairs[v], two, 2);
    }
}

void fill_tables(uint32_t* t, char char63)
{
    for (int i = 0; i < 4 * 256; ++i) t[i] = invalid;
    for (unsigned v = 0; v < 64; ++v) {
        unsigned char c = static_cast<unsigned char>(v == 63 ? char63 : alphabet[v]);
        t[c] = v << 18;
        t[256 + c] = v << 12;
        t[512 + c] = v << 6;
        t[768 + c] = v;
    }
}

const uint16_t* standard_pairs()
{
    static uint16_t pairs[4096];
    static bool ready = (fill_pairs(pairs, '/'), true);
    (void)ready;
    return pairs;
}

const uint32_t* standard_tables()
{
    static uint32_t tables[4 * 256];
    static bool ready = (fill_tables(tables, '/'), true);
    (void)ready;
    return tables;
}

}  // namespace

Base64Encoder::Base64Encoder(ByteSink& out, int line_length, char char63)
    : out_(out), pairs_(standard_pairs()), breaking_(line_length > 0), limit_(line_length)
{
    if (char63 != '/') {
        own_pairs_.reset(new uint16_t[4096]);
        fill_pairs(own_pairs_.get(), char63);
        pairs_ = own_pairs_.get();
    }
}

void Base64Encoder::encode_run(const unsigned char* in, size_t groups, char* out) const
{
    for (size_t g = 0; g < groups; ++g, in += 3, out += 4) {
        uint32_t v = (uint32_t(in[0]) << 16) | (uint32_t(in[1]) << 8) | in[2];
        std::memcpy(out, &pairs_[v >> 12], 2);
        std::memcpy(out + 2, &pairs_[v & 0xFFF], 2);
    }
}

void Base64Encoder::emit(const unsigned char* group, int valid)
{
    unsigned char g[3] = {group[0], 0, 0};
    if (valid > 1) g[1] = group[1];
    if (valid > 2) g[2] = group[2];
    char* o = out_.reserve(6);
    encode_run(g, 1, o);
    if (valid < 2) o[2] = '=';
    if (valid < 3) o[3] = '=';
    out_.commit(4);
    line_length_ += 4;
    if (breaking_ && line_length_ >= limit_) {
        out_.put("\r\n", 2);
        line_length_ = 0;
    }
}

void Base64Encoder::write(const void* bytes, size_t count)
{
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    while (pending_count_ != 0 && count != 0) {
        pending_[pending_count_++] = *p++;
        --count;
        if (pending_count_ == 3) {
            emit(pending_, 3);
            pending_count_ = 0;
        }
    }
    size_t line_chars = breaking_ ? 4 * ((static_cast<size_t>(limit_) + 3) / 4) : 0;
    if (breaking_ && line_chars + 2 <= SinkBuffer::capacity) {
        // Finish the current line group by group, then write whole lines.
        while (count >= 3 && line_length_ != 0) {
            emit(p, 3);
            p += 3, count -= 3;
        }
        size_t line_bytes = line_chars / 4 * 3;
        while (count >= line_bytes) {
            char* o = out_.reserve(line_chars + 2);
            encode_run(p, line_bytes / 3, o);
            o[line_chars] = '\r';
            o[line_chars + 1] = '\n';
            out_.commit(line_chars + 2);
            p += line_bytes, count -= line_bytes;
        }
    } else if (!breaking_) {
        constexpr size_t chunk_groups = SinkBuffer::capacity / 4;
        while (count >= 3) {
            size_t groups = count / 3 < chunk_groups ? count / 3 : chunk_groups;
            char* o = out_.reserve(groups * 4);
            encode_run(p, groups, o);
            out_.commit(groups * 4);
            line_length_ += static_cast<int64_t>(groups * 4);
            p += groups * 3, count -= groups * 3;
        }
    }
    while (count >= 3) {
        emit(p, 3);
        p += 3, count -= 3;
    }
    while (count != 0) pending_[pending_count_++] = *p++, --count;
}

void Base64Encoder::finish()
{
    if (pending_count_ != 0) emit(pending_, pending_count_);
    pending_count_ = 0;
    if (line_length_ != 0) out_.put("\r\n", 2);
    line_length_ = 0;
    out_.flush();
}

Base64Decoder::Base64Decoder(ByteSink& out, char char63) : out_(out), tables_(standard_tables())
{
    if (char63 != '/') {
        own_tables_.reset(new uint32_t[4 * 256]);
        fill_tables(own_tables_.get(), char63);
        tables_ = own_tables_.get();
    }
}

void Base64Decoder::write(const void* chars, size_t count)
{
    const unsigned char* p = static_cast<const unsigned char*>(chars);
    const uint32_t* t0 = tables_;
    const uint32_t* t1 = tables_ + 256;
    const uint32_t* t2 = tables_ + 512;
    const uint32_t* t3 = tables_ + 768;
    constexpr size_t chunk_quads = SinkBuffer::capacity / 3;
    while (count != 0) {
        if (pending_count_ == 0 && count >= 4) {
            // Whole groups of four alphabet characters at a time; anything
            // else drops to the character-by-character path below.
            size_t quads = count / 4 < chunk_quads ? count / 4 : chunk_quads;
            char* o = out_.reserve(quads * 3);
            size_t done = 0;
            for (; done < quads; ++done, p += 4, o += 3) {
                uint32_t v = t0[p[0]] | t1[p[1]] | t2[p[2]] | t3[p[3]];
                if (v & invalid) break;
                o[0] = static_cast<char>(v >> 16);
                o[1] = static_cast<char>(v >> 8);
                o[2] = static_cast<char>(v);
            }
            out_.commit(done * 3);
            count -= done * 4;
            if (done == quads) continue;
        }
        uint32_t v = t3[*p++];
        --count;
        if (v & invalid) continue;
        pending_[pending_count_++] = static_cast<unsigned char>(v);
        if (pending_count_ == 4) {
            char* o = out_.reserve(3);
            o[0] = static_cast<char>((pending_[0] << 2) | (pending_[1] >> 4));
            o[1] = static_cast<char>((pending_[1] << 4) | (pending_[2] >> 2));
            o[2] = static_cast<char>((pending_[2] << 6) | pending_[3]);
            out_.commit(3);
            pending_count_ = 0;
        }
    }
}

void Base64Decoder::finish()
{
    if (pending_count_ != 0) {
        for (int i = pending_count_; i < 4; ++i) pending_[i] = 0;
        out_.put(static_cast<char>((pending_[0] << 2) | (pending_[1] >> 4)));
        if (pending_count_ == 3) out_.put(static_cast<char>((pending_[1] << 4) | (pending_[2] >> 2)));
    }
    pending_count_ = 0;
    out_.flush();
}

std::string base64_encode(const void* bytes, size_t count, int line_length)
{
    MemorySink sink;
    {
        Base64Encoder encoder(sink, line_length);
        encoder.write(bytes, count);
        encoder.finish();
    }
    return sink.take();
}

std::string base64_decode(const char* text, size_t length)
{
    MemorySink sink;
    {
        Base64Decoder decoder(sink);
        decoder.write(text, length);
        decoder.finish();
    }
    return sink.take();
}

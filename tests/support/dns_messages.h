// DNS answers built byte by byte for scripted name servers.
#pragma once

#include <string>
#include <vector>

namespace dns_messages {

using Bytes = std::vector<unsigned char>;

inline void put16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<unsigned char>(v >> 8));
    b.push_back(static_cast<unsigned char>(v));
}

inline void put_name(Bytes& b, const std::string& name)
{
    size_t start = 0;
    while (start < name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos) dot = name.size();
        b.push_back(static_cast<unsigned char>(dot - start));
        b.insert(b.end(), name.begin() + static_cast<long>(start), name.begin() + static_cast<long>(dot));
        start = dot + 1;
    }
    b.push_back(0);
}

// A response header and the question for name (type MX); the question name
// starts at offset 12, so a pointer 0xC00C names it.
inline Bytes response_head(unsigned answers, unsigned rcode = 0, const std::string& name = "test.example")
{
    Bytes b;
    put16(b, 1);
    put16(b, 0x8180 | rcode);
    put16(b, 1);
    put16(b, answers);
    put16(b, 0);
    put16(b, 0);
    put_name(b, name);
    put16(b, 15);
    put16(b, 1);
    return b;
}

// An MX answer for the question's name; the exchange name starts 14 bytes
// after the answer's start.
inline void put_mx(Bytes& b, unsigned preference, const Bytes& exchange)
{
    put16(b, 0xC00C);
    put16(b, 15);
    put16(b, 1);
    put16(b, 0);
    put16(b, 3600);
    put16(b, static_cast<unsigned>(2 + exchange.size()));
    put16(b, preference);
    b.insert(b.end(), exchange.begin(), exchange.end());
}

inline Bytes name_bytes(const std::string& name)
{
    Bytes b;
    put_name(b, name);
    return b;
}

// An exchange name that is a compression pointer to itself, for an MX
// answer appended next to b.
inline Bytes self_pointer(const Bytes& b)
{
    size_t at = b.size() + 14;
    return Bytes{static_cast<unsigned char>(0xC0 | (at >> 8)), static_cast<unsigned char>(at)};
}

// The message with its two-byte length in front, as DNS over TCP sends it.
inline std::string framed(const Bytes& message, size_t extra_length = 0)
{
    Bytes out;
    put16(out, static_cast<unsigned>(message.size() + extra_length));
    out.insert(out.end(), message.begin(), message.end());
    return std::string(out.begin(), out.end());
}

}  // namespace dns_messages

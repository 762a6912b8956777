// The quoted-printable decoder on any bytes, and the encoder's round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/quoted_printable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char> buffer(data, data + size);
    size_t n = decode_quoted_printable(buffer.data(), buffer.size());
    if (n > size) std::abort();

    int column = size ? 1 + data[0] % 80 : 1;
    std::vector<char> out(qp_encoded_capacity(size));
    size_t consumed = 0;
    size_t written = qp_encode(column, reinterpret_cast<const char*>(data), size, false, false, out.data(), consumed);
    if (written > out.size() || consumed != size) std::abort();
    // Without its soft line breaks, the encoded text decodes to the input.
    std::string joined;
    for (size_t i = 0; i < written; ++i) {
        if (out[i] == '=' && i + 2 < written && out[i + 1] == '\r' && out[i + 2] == '\n') {
            i += 2;
            continue;
        }
        joined.push_back(out[i]);
    }
    size_t decoded = decode_quoted_printable(&joined[0], joined.size());
    if (decoded != size || std::memcmp(joined.data(), data, size) != 0) std::abort();
    return 0;
}

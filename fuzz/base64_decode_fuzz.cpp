// The base64 decoder, fed in two pieces, against a one-piece decode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    std::string whole = base64_decode(text, size);
    MemorySink sink;
    {
        Base64Decoder d(sink);
        size_t cut = size ? data[0] % (size + 1) : 0;
        d.write(text, cut);
        d.write(text + cut, size - cut);
        d.finish();
    }
    if (sink.bytes() != whole) std::abort();
    // Encoding what was decoded and decoding it again gives the same bytes.
    std::string again = base64_encode(whole.data(), whole.size(), 72);
    if (base64_decode(again.data(), again.size()) != whole) std::abort();
    return 0;
}

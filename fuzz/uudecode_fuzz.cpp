// The UU decoder on any lines: it never reads past a line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/uucode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    const char* end = text + size;
    const char* newline = static_cast<const char*>(std::memchr(text, '\n', size));
    std::string begin(text, newline ? newline : end);
    UuDecoder decoder(begin.c_str());
    decoder.dot_removal = size > 0 && (data[0] & 1);
    for (const char* p = newline ? newline + 1 : end; p < end;) {
        const char* line_end = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!line_end) line_end = end;
        // Each line in a block of its own, so reading past it is caught.
        std::vector<char> line(p, line_end);
        decoder.decode_line(line.data(), line.size());
        p = line_end + 1;
    }
    decoder.finish();
    return 0;
}

#include "engine/base64_filter.h"

#include <memory>

#include "base/base64.h"

namespace {

// Large blocks keep the number of system calls low; memory stays bounded.
constexpr size_t block_size = 1 << 16;

template <typename Coder>
void pump(FILE* in, Coder& coder)
{
    std::unique_ptr<char[]> block(new char[block_size]);
    size_t n;
    while ((n = std::fread(block.get(), 1, block_size, in)) > 0) coder.write(block.get(), n);
    coder.finish();
}

}  // namespace

void encode_base64_stream(FILE* in, FILE* out, int line_length)
{
    FileSink sink(out);
    Base64Encoder encoder(sink, line_length);
    pump(in, encoder);
    std::fflush(out);
}

void decode_base64_stream(FILE* in, FILE* out)
{
    FileSink sink(out);
    Base64Decoder decoder(sink);
    pump(in, decoder);
    std::fflush(out);
}

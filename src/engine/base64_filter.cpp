#include "engine/base64_filter.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/base64.h"
#include "base/text_stream.h"

namespace {

// Large blocks keep the number of system calls low; memory stays bounded.
constexpr size_t block_size = 1 << 16;

// Feeds in to the coder until the end of the input, a read error or a
// write error; returns 0 or 1 after the error line.
template <typename Coder>
int pump(FILE* in, FileSink& sink, Coder& coder)
{
    std::unique_ptr<char[]> block(new char[block_size]);
    int read_error = 0;
    for (;;) {
        errno = 0;
        size_t n = std::fread(block.get(), 1, block_size, in);
        if (n > 0) coder.write(block.get(), n);
        if (n < block_size && std::ferror(in)) read_error = errno ? errno : EIO;
        if (n < block_size || sink.error()) break;
    }
    coder.finish();
    sink.flush();
    if (read_error) error_stream << "ERROR: cannot read the input: " << std::strerror(read_error) << "\r\n";
    if (sink.error()) error_stream << "ERROR: cannot write the output: " << std::strerror(sink.error()) << "\r\n";
    return read_error || sink.error() ? 1 : 0;
}

}  // namespace

int encode_base64_stream(FILE* in, FILE* out, int line_length)
{
    FileSink sink(out);
    Base64Encoder encoder(sink, line_length);
    return pump(in, sink, encoder);
}

int decode_base64_stream(FILE* in, FILE* out)
{
    FileSink sink(out);
    Base64Decoder decoder(sink);
    return pump(in, sink, decoder);
}

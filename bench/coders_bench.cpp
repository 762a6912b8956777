// Throughput of the content coders, in bytes of input per second.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/header_words.h"
#include "base/quoted_printable.h"

namespace {

constexpr size_t input_size = 1 << 20;

std::string random_bytes(size_t n)
{
    std::mt19937_64 rng(42);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

// Mail-like text: lines of words up to 70 characters, CR LF line ends, and
// about one byte in fifty with the high bit set.
std::string mail_text(size_t n)
{
    static const char* const words[] = {"the", "message", "server", "attachment", "reply", "a", "of", "delivery",
                                        "caf\xe9", "na\xefve", "=", "report.", "status", "to", "and", "mailbox"};
    std::mt19937 rng(1);
    std::string s;
    size_t column = 0;
    while (s.size() < n) {
        const char* w = words[rng() % 16];
        if (column > 60) {
            s += "\r\n";
            column = 0;
        } else if (column) {
            s += ' ';
            ++column;
        }
        s += w;
        column += std::char_traits<char>::length(w);
    }
    s.resize(n);
    return s;
}

class NullSink : public ByteSink {
public:
    void write(const char*, size_t length) override { total += length; }
    size_t total = 0;
};

void BM_Base64Encode(benchmark::State& state)
{
    std::string in = random_bytes(input_size);
    for (auto _ : state) {
        NullSink sink;
        Base64Encoder e(sink, 72);
        e.write(in.data(), in.size());
        e.finish();
        benchmark::DoNotOptimize(sink.total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Base64Decode(benchmark::State& state)
{
    std::string in = base64_encode(random_bytes(input_size).data(), input_size, 72);
    for (auto _ : state) {
        NullSink sink;
        Base64Decoder d(sink);
        d.write(in.data(), in.size());
        d.finish();
        benchmark::DoNotOptimize(sink.total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_QuotedPrintableEncodeBody(benchmark::State& state)
{
    std::string in = mail_text(input_size);
    std::vector<char> out(qp_encoded_capacity(in.size()));
    for (auto _ : state) {
        int column = 1;
        size_t consumed = 0;
        size_t n = qp_encode(column, in.data(), in.size(), false, false, out.data(), consumed);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_QuotedPrintableDecode(benchmark::State& state)
{
    std::string text = mail_text(input_size);
    std::vector<char> encoded(qp_encoded_capacity(text.size()));
    int column = 1;
    size_t consumed = 0;
    encoded.resize(qp_encode(column, text.data(), text.size(), false, false, encoded.data(), consumed));
    std::vector<char> work(encoded.size());
    for (auto _ : state) {
        work.assign(encoded.begin(), encoded.end());
        benchmark::DoNotOptimize(decode_quoted_printable(work.data(), work.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.size()));
}

const char header_text[] = "Jos\xe9 Mar\xed" "a Garc\xed" "a-L\xf3pez <jose.maria@example.com>";

void BM_HeaderEncode(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(encode_header_text("iso-8859-1", true, header_text, true));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (sizeof header_text - 1)));
}

void BM_HeaderDecode(benchmark::State& state)
{
    string encoded = encode_header_text("iso-8859-1", true, header_text, true);
    for (auto _ : state) benchmark::DoNotOptimize(decode_header_text(encoded.c_str()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.length()));
}

}  // namespace

BENCHMARK(BM_Base64Encode);
BENCHMARK(BM_Base64Decode);
BENCHMARK(BM_QuotedPrintableEncodeBody);
BENCHMARK(BM_QuotedPrintableDecode);
BENCHMARK(BM_HeaderEncode);
BENCHMARK(BM_HeaderDecode);

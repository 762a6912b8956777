// The wire form of message text on any input: the dot-stuffing sink leaves
// no bare CR or LF and no line that is a lone "."; removing the stuffing
// gives the text back (with its line ends made CR LF). Header folding keeps
// every line within the limit and unfolds to the line it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/byte_sink.h"
#include "send/dot_stuffing.h"
#include "send/header_folding.h"

namespace {

void check_stuffing(const std::string& text, size_t split)
{
    MemorySink out;
    DotStuffingSink sink(out);
    sink.write(text.data(), split);
    sink.write(text.data() + split, text.size() - split);
    sink.finish();
    const std::string& wire = out.bytes();
    std::string unstuffed;
    bool line_start = true;
    for (size_t i = 0; i < wire.size(); ++i) {
        char c = wire[i];
        if (c == '\r' && (i + 1 >= wire.size() || wire[i + 1] != '\n')) std::abort();
        if (c == '\n' && (i == 0 || wire[i - 1] != '\r')) std::abort();
        if (line_start && c == '.') {
            if (i + 1 >= wire.size() || wire[i + 1] != '.') std::abort();  // every leading dot doubled
            ++i;
        }
        unstuffed += wire[i];
        line_start = wire[i] == '\n';
    }
    auto ends_line = [](const std::string& s) { return s.size() >= 2 && s.compare(s.size() - 2, 2, "\r\n") == 0; };
    if (!wire.empty() && !ends_line(wire)) std::abort();
    // The same text with every line end made CR LF, and a last line ended.
    std::string expected;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            expected += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (text[i] == '\n') {
            expected += "\r\n";
        } else {
            expected += text[i];
        }
    }
    if (!expected.empty() && !ends_line(expected)) expected += "\r\n";
    if (unstuffed != expected) std::abort();
}

void check_folding(const std::string& text)
{
    std::string line;
    for (char c : text)
        if (c != '\r' && c != '\n') line += c;  // a header line holds no line end of its own
    std::string out;
    if (!fold_header_line(line, out)) return;
    size_t at = 0, end;
    std::string unfolded;
    while ((end = out.find("\r\n", at)) != std::string::npos) {
        if (end - at > max_header_line) std::abort();
        unfolded += out.substr(at, end - at);
        at = end + 2;
    }
    if (at != out.size()) std::abort();
    // Split encoded words may add words; text without them unfolds exactly.
    if (line.find("=?") == std::string::npos && unfolded != line) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    check_stuffing(text, text.empty() ? 0 : data[0] % (text.size() + 1));
    // Long lines are what folding is for: repeat the text past the limit.
    std::string line = text;
    while (!line.empty() && line.size() < 3000) line += text;
    check_folding(line);
    return 0;
}

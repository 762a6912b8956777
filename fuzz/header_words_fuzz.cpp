// Header decoding on any text, and the encoded word's round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/header_words.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // header values are texts: up to the first NUL
    string charset;
    decode_header_text(text.c_str(), &charset);

    // One encoded word decodes back to the text, unless the text already
    // holds something that reads as a word of its own.
    if (text.find("=?") == std::string::npos && text.find("?=") == std::string::npos) {
        string word = encode_header_text("utf-8", true, text.c_str(), false);
        string back = decode_header_text(word.c_str());
        if (std::string(back.c_str(), back.length()) != text) std::abort();
    }
    return 0;
}

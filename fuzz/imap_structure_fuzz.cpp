// Body structures and FETCH lines of any bytes: the parse ends, stays within
// its bound on parts, and numbers every part "TEXT" or with dotted numbers;
// the structure cut from a line is a piece of it from '(' to ')'.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "retrieve/imap_structure.h"

namespace {

void check_parts(const char* text)
{
    List<imap_part> parts;
    parse_structure(text, parts);
    if (parts.count() > 10000) std::abort();
    imap_part part;
    while (parts.take_first(part)) {
        const string& number = part.part_number;
        if (number.empty() || part.depth < 0) std::abort();
        if (number == "TEXT") continue;
        for (size_t i = 0; i < number.length(); ++i) {
            char c = number.c_str()[i];
            if (!(c >= '0' && c <= '9') && c != '.') std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // a response line is a text: up to the first NUL
    check_parts(text.c_str());

    string structure = structure_text_of(text.c_str());
    if (!structure.empty()) {
        if (structure.c_str()[0] != '(' || structure.c_str()[structure.length() - 1] != ')') std::abort();
        if (text.find(structure.c_str()) == std::string::npos) std::abort();
        check_parts(structure.c_str());
    }
    return 0;
}

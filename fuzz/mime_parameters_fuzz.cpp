// Extended parameter values and part-name sanitizing on any text: nothing
// grows past its input, and a sanitized name cannot leave its folder or
// hold a line end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "retrieve/mime_parameters.h"
#include "retrieve/part_names.h"

namespace {

void check_name(const string& name, size_t limit)
{
    if (name.length() > limit) std::abort();
    for (size_t i = 0; i < name.length(); ++i) {
        char c = name.c_str()[i];
        if (c == '/' || c == '\\' || c == '\r' || c == '\n' || c == 0) std::abort();
    }
    if (name == "." || name == "..") std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    check_name(sanitize_file_name(bytes, size), size);

    std::string text(bytes, size);
    text = text.c_str();  // header values are texts: up to the first NUL
    for (const char* name : {"filename", "name"}) {
        string value, charset;
        if (!extended_parameter(text.c_str(), name, value, charset)) continue;
        if (value.length() > text.size() || charset.length() > text.size()) std::abort();
        check_name(sanitize_file_name(value), value.length());
    }
    return 0;
}

#include "extender/zeb_tavrin.h"

#include <cstring>
#include <string>

#include "engine/engine_main.h"
#include "base/text_stream.h"
#include "extender/resource_strings.h"
#include "platform/os_version.h"

namespace {

ZebHandler handler(int32_t (CZebTavrin::*f)(void*, intptr_t, intptr_t, ZebValue*, int32_t))
{
    return static_cast<ZebHandler>(f);
}

ZebFunctionEntry entry(const char* name, uint64_t types, uint32_t required, uint32_t optional, ZebHandler h)
{
    ZebFunctionEntry e{};
    e.info.index = 0;
    e.info.kind = 2;
    e.info.parameter_types = types;
    e.info.parameter_counts = required | (optional << 8);
    std::strncpy(e.info.name, name, sizeof e.info.name - 1);
    e.handler = h;
    return e;
}

ZebFunctionEntry end_entry()
{
    ZebFunctionEntry e{};
    e.info.index = -1;
    e.info.parameter_counts = 1;
    e.end_mark = -1;
    return e;
}

ZebFunctionEntry function_entries[] = {
    entry("kverinfo", 0, 1, 0, handler(&CZebTavrin::kverinfo)),
    entry("kinit", 0x111111, 5, 1, handler(&CZebTavrin::kinit)),
    entry("kdest", 0x111, 3, 0, handler(&CZebTavrin::kdest)),
    entry("kextra", 0x11111, 3, 2, handler(&CZebTavrin::kextra)),
    entry("ksendtext", 0x1111, 4, 0, handler(&CZebTavrin::ksendtext)),
    entry("ksendfile", 0x1111, 4, 0, handler(&CZebTavrin::ksendfile)),
    entry("kgetmail", 0x11111, 5, 0, handler(&CZebTavrin::kgetmail)),
    entry("kmanageimap4", 0x11, 2, 0, handler(&CZebTavrin::kmanageimap4)),
    entry("kstatusinfo", 0, 0, 0, handler(&CZebTavrin::kstatusinfo)),
    entry("kdeletepop3", 0x1, 1, 0, handler(&CZebTavrin::kdeletepop3)),
    end_entry(),
};

bool is_separator(char c) { return c == '|' || c == '\t'; }

}  // namespace

string tokenize(const char* text, long& position)
{
    if (!text || position < 0) {
        position = -1;
        return string();
    }
    const char* p = text + position;
    while (*p && is_separator(*p)) ++p;
    if (!*p) {
        position = -1;
        return string();
    }
    const char* end = p;
    while (*end && !is_separator(*end)) ++end;
    position = static_cast<long>(end - text) + (*end ? 1 : 0);
    return string(p, static_cast<size_t>(end - p));
}

string joined_list(const char* text)
{
    std::string joined;
    long position = 0;
    for (;;) {
        string token = tokenize(text, position);
        if (position < 0) break;
        if (!joined.empty()) joined += ',';
        joined += token.c_str();
    }
    return string(joined.data(), joined.size());
}

CZebTavrin::CZebTavrin() : engine_entry(engine_main)
{
    // The name is known from the start, so message texts find their
    // language-file section even before the host asks for the description.
    const char* extender_name = resource_string(1001);
    std::strncpy(name, extender_name ? extender_name : "", sizeof name - 1);
}

ZebFunctionEntry* CZebTavrin::function_table() { return function_entries; }

int32_t CZebTavrin::describe(char* buffer, int32_t size)
{
    const char* extender_name = resource_string(1001);
    std::strncpy(name, extender_name ? extender_name : "", sizeof name - 1);
    message_text(1002, description, 256);
    return CZebExtender::describe(buffer, size);
}

int32_t CZebTavrin::count_functions(void* context, intptr_t value, intptr_t value7, void* buffer, int32_t size)
{
    OsVersion os;
    if (!read_os_version(os) || os.platform_id != 2 || os.major <= 4) {
        char text[64];
        message_text(11008, text, sizeof text);
        if (buffer && size > 0) {
            char* out = static_cast<char*>(buffer);
            std::strncpy(out, text, static_cast<size_t>(size - 1));
            out[size - 1] = 0;
        }
        return -1;
    }
    return CZebExtender::count_functions(context, value, value7, buffer, size);
}

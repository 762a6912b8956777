#include "platform/trace.h"

#include <cstdio>
#include <cstring>

#include "platform/environment.h"

namespace {

FILE* sink = nullptr;
bool opened = false;

void open_sink()
{
    opened = true;
    const char* target = get_env("TAVRIN_TRACE");
    if (!target || !*target) return;
    if (std::strcmp(target, "-") == 0) sink = stderr;
    else sink = std::fopen(target, "ab");
}

}  // namespace

bool trace_enabled()
{
    if (!opened) open_sink();
    return sink != nullptr;
}

void trace_write(const char* bytes, size_t length)
{
    if (!trace_enabled() || !bytes) return;
    std::fwrite(bytes, 1, length, sink);
    std::fflush(sink);
}

void trace_write(const char* fragment)
{
    if (!trace_enabled() || !fragment) return;
    trace_write(fragment, std::strlen(fragment));
}

void trace_reopen()
{
    if (sink && sink != stderr) std::fclose(sink);
    sink = nullptr;
    opened = false;
}

#include "engine/proxy_settings.h"

#include <cstdio>
#include <string>

#include "base/line_reader.h"
#include "base/text_utils.h"
#include "engine/option_state.h"
#include "platform/nocase.h"

void read_proxy_settings()
{
    LineReader reader(call_state().config_file.c_str(), 1022);
    std::string line;
    char value[1024];
    while (reader.next(line)) {
        string* target = nullptr;
        if (nocase_compare_n(line.c_str(), "PROXY_HOST", 10) == 0) target = &options().proxy_host;
        else if (nocase_compare_n(line.c_str(), "PROXY_PORT", 10) == 0) target = &options().proxy_port;
        if (!target) continue;
        value[0] = 0;
        std::sscanf(line.c_str(), "%*s %1023[^\r\n]", value);
        *target = unquote(value, '"');
    }
}

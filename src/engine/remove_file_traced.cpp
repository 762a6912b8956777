#include "engine/engine_main.h"
#include "engine/option_state.h"
#include "base/text_stream.h"
#include "platform/paths.h"

int remove_file_traced(const char* path, const char* source, int line)
{
    if (options().verbose > 1)
        report_stream << "REMOVE '" << path << "' file: " << source << " line: " << line << "\r\n";
    return remove_file(path);
}

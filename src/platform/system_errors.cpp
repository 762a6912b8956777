#include "platform/system_errors.h"

#include <cerrno>
#include <cstring>

namespace {

struct CodeMapping {
    int posix;
    unsigned long code;
};

const CodeMapping code_mappings[] = {{ENOMEM, 14}, {EACCES, 5}, {EPERM, 5}, {EINVAL, 160}};

}  // namespace

unsigned long last_system_error()
{
    int e = errno;
    for (const CodeMapping& m : code_mappings)
        if (m.posix == e) return m.code;
    return static_cast<unsigned long>(e);
}

string system_error_text(unsigned long code)
{
    for (const CodeMapping& m : code_mappings)
        if (m.code == code) return string(std::strerror(m.posix));
    if (code == 0 || code > 4095) return string();
    return string(std::strerror(static_cast<int>(code)));
}

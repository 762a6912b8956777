// The operating system's error codes as the extender reports them.
#pragma once

#include "base/text_string.h"

// The calling thread's last system error, as a code of the other platform
// where one has a meaning there (out of memory 14, access denied 5, bad
// arguments 160), else the errno value itself.
unsigned long last_system_error();
// The system's text for such a code (empty when there is none).
string system_error_text(unsigned long code);

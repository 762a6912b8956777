// The trace channel: off unless TAVRIN_TRACE names a file to append to
// ("-" for standard error). A call costs nothing when it is off.
#pragma once

#include <cstddef>

bool trace_enabled();
void trace_write(const char* fragment);
void trace_write(const char* bytes, size_t length);
// Re-reads TAVRIN_TRACE (for tests that switch it).
void trace_reopen();

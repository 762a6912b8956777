// Process environment and process services.
#pragma once

// The variable's value, or null when it is not set.
const char* get_env(const char* name);
// Runs a command line through /bin/sh and waits; the interpreter's status.
int run_command(const char* command_line);
// Blocks the calling thread.
void sleep_ms(unsigned long milliseconds);
// Milliseconds of a clock that only moves forward, for deadlines.
long long monotonic_ms();
// Detaching from a console has no meaning here: it does nothing.
void detach_console();

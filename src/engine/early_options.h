// The early options: read by engine_main before the configuration file.
#pragma once

// Reads v[1] ... v[n-1] for the early options and switches the
// use-configuration flag on where an element calls for it.
void read_early_options(int argc, const char* const* argv);

// The configuration file's keyword reader.
#pragma once

// Reads the configuration file named for this call when the
// use-configuration flag is on and the file exists.
void read_config();
// Applies one configuration line (tests and the reader use it).
void apply_config_line(const char* line);

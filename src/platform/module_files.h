// This library's own folder, searching for a file the way the library's
// files are looked for, and the settings folder.
#pragma once

#include "base/text_string.h"

// The folder of the binary that holds this code, with a trailing '/'.
string module_folder();
// The first of: folder + name (when folder is given), name in the current
// folder, name in each folder of PATH. Empty when none exists.
string search_file(const char* folder, const char* name);
// $XDG_CONFIG_HOME (else $HOME/.config) + "/Korvanel/Settings", created when
// missing; empty when it cannot be had.
string user_settings_folder();

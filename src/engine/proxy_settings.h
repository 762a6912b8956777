// The HTTP proxy lines of the configuration file, read on every repetition
// whether or not the rest of the file is used.
#pragma once

void read_proxy_settings();

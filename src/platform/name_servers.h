// The machine's name servers and DNS domain, from /etc/resolv.conf: the first
// two "nameserver" lines; "domain", else the first "search" word, else the
// host name after its first '.'. What is not found stays empty.
#pragma once

#include "base/text_string.h"

void read_name_servers(string& primary, string& secondary, string& domain);
// The same from another file (tests).
void read_name_servers_from(const char* path, string& primary, string& secondary, string& domain);

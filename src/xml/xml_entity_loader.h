// Loading the document an external entity names: a file, or a page over
// HTTP or HTTPS.
#pragma once

#include <cstddef>

#include "base/text_string.h"

// Wait between the attempts to open a file that cannot be opened.
extern unsigned long xml_open_retry_ms;
constexpr int xml_open_retries = 5;  // attempts after the first

// The whole document into out, at most limit bytes. A file that cannot be
// opened, or a page that does not come, gives an empty document. False,
// and nothing loaded, for an identifier of another scheme and for a
// document longer than limit.
bool load_external_entity(const string& system_id, size_t limit, string& out);

// The file a system identifier names, with '\\' read as the separator.
string entity_file_path(const string& system_id);

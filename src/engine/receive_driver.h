// The receive driver: connect the current reader, report the count, walk
// the selected messages, write their fields, bodies and parts, disconnect.
#pragma once

#include <cstddef>

#include "base/text_string.h"

// 0 after a run that did all it was asked, 1 after a failure.
int receive_mail();

// Stores one part in directory under name (made unique with "-unique",
// which may change name); with text set its CR LF line ends become LF.
// False, with the reason on the error stream, when it could not be written.
bool write_attachment_file(const string& directory, string& name, const char* data, size_t length, bool text);

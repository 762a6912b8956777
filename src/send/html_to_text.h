// The plain-text form of an HTML text, with CR LF line ends.
#pragma once

#include <cstddef>

#include "base/text_string.h"

string html_to_text(const char* html, size_t length);

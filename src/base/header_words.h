// Encoded words in header values: written as one "Q" word, read in both
// the "B" and the "Q" form.
#pragma once

#include "base/text_string.h"

// The header value to write: unchanged when encoding is off or the text has
// no 8-bit byte; otherwise one "=?charset?Q?...?=" word. In address mode
// only the part before the first '<' is encoded.
string encode_header_text(const char* charset, bool enabled, const char* text, bool address_mode);

// The value with its encoded words decoded (no character set conversion).
// last_charset, when given, receives the charset of the last word. A word
// with an unknown encoding or an unfinished head leaves the value unchanged.
string decode_header_text(const char* text, string* last_charset = nullptr);

// Parameters of a Content-Type or Content-Disposition value written in the
// extended forms of RFC 2231: charset and percent escapes, and values split
// into numbered sections.
#pragma once

#include "base/text_string.h"

// Reads parameter `name` (compared without case; "filename" or "name") from
// header_value, the text after "Content-Type:" or "Content-Disposition:" to
// the end of its line (a CR or LF ends it; the caller unfolds). Only the
// extended forms count:
//   name*=charset'language'%XX...               one extended value
//   name*0=...; name*1*=%XX...; name*2="..."    numbered sections
// Sections are joined in the order of their numbers, from 0 up to the first
// one missing, at most 100 of them; when a number is given twice the first
// one counts, and a lone name* counts over any sections. A quoted value loses
// its quotes and backslash escapes; a section marked with '*' is
// percent-decoded, where an escape that is not two hexadecimal digits (and
// %00, which would cut the name short) is kept as it is. The charset is the
// text before the first apostrophe of the first section when that section
// is extended and has the charset'language' prefix; the bytes are not
// converted. The plain form name=... is not read here: the caller decides
// which form wins.
//
// Returns true when any extended form of name was present; value (possibly
// empty, as when section 0 is missing) and charset are set then, and left
// alone otherwise. Neither is ever longer than header_value.
bool extended_parameter(const char* header_value, const char* name, string& value, string& charset);

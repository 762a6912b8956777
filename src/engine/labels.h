// Replaceable labels of the receive output and the web-mail pages. A
// configuration line that begins with a label's key sets that label.
#pragma once

#include "base/text_string.h"

// The label's text; the empty string for an unknown key.
const string& label(const char* key);
// Sets the label whose key the line begins with (the longest such key).
void read_label(const char* line);
// Back to the default texts.
void reset_labels();

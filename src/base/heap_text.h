// Heap copies of C texts, for the lists that keep texts by pointer.
#pragma once

#include "base/lists.h"

// A new[]-allocated copy (absent text gives "").
char* copy_text(const char* text);
// Takes every text off the list and frees it.
void free_texts(ListOf& list);

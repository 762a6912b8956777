// The alias table: patterns and their replacements, the n-th of one belonging
// to the n-th of the other. It lives as long as the process; every job that
// reads an alias file adds its pairs behind the earlier ones.
#pragma once

#include "base/lists.h"

ListOf& alias_patterns();
ListOf& alias_replacements();
void alias_add(const char* pattern, const char* replacement);

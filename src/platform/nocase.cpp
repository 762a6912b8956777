#include "platform/nocase.h"

#include <strings.h>

int nocase_compare(const char* a, const char* b) { return strcasecmp(a, b); }

int nocase_compare_n(const char* a, const char* b, size_t n) { return strncasecmp(a, b, n); }

// Case-insensitive comparison of C texts (the C library's ASCII rules).
#pragma once

#include <cstddef>

int nocase_compare(const char* a, const char* b);
int nocase_compare_n(const char* a, const char* b, size_t n);

#include "base/heap_text.h"

#include <cstring>

char* copy_text(const char* text)
{
    if (!text) text = "";
    size_t n = std::strlen(text);
    char* copy = new char[n + 1];
    std::memcpy(copy, text, n + 1);
    return copy;
}

void free_texts(ListOf& list)
{
    void* text;
    while (list.take_first(text)) delete[] static_cast<char*>(text);
}

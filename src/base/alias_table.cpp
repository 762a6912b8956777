#include "base/alias_table.h"

#include <cstring>

namespace {

char* copy_text(const char* text)
{
    size_t n = std::strlen(text);
    char* copy = new char[n + 1];
    std::memcpy(copy, text, n + 1);
    return copy;
}

// The two lists own their texts: they go when the process ends.
struct AliasTable {
    ListOf patterns;
    ListOf replacements;
    ~AliasTable()
    {
        void* text;
        while (patterns.take_first(text)) delete[] static_cast<char*>(text);
        while (replacements.take_first(text)) delete[] static_cast<char*>(text);
    }
};

AliasTable& table()
{
    static AliasTable aliases;
    return aliases;
}

}  // namespace

ListOf& alias_patterns() { return table().patterns; }

ListOf& alias_replacements() { return table().replacements; }

void alias_add(const char* pattern, const char* replacement)
{
    table().patterns.add(copy_text(pattern));
    table().replacements.add(copy_text(replacement));
}

#include "base/alias_table.h"

#include "base/heap_text.h"

namespace {

// The two lists own their texts: they go when the process ends.
struct AliasTable {
    ListOf patterns;
    ListOf replacements;
    ~AliasTable()
    {
        free_texts(patterns);
        free_texts(replacements);
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

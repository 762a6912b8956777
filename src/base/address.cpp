#include <cstdio>
#include <cstring>

#include "base/alias_table.h"
#include "base/text_utils.h"
#include "platform/nocase.h"

namespace {

constexpr size_t field_size = 1024;  // the scans read at most 1023 characters

// Calls visit for each item of a list split at commas and semicolons:
// blanks after a separator skipped, trailing blanks removed.
template <typename Visit>
void for_each_list_item(const char* list, Visit visit)
{
    if (!list) return;
    const char* p = list;
    for (;;) {
        while (*p == ' ') ++p;
        const char* end = p;
        while (*end && *end != ',' && *end != ';') ++end;
        string item(p, static_cast<size_t>(end - p));
        item.rtrim_char(' ');
        visit(item);
        if (!*end) break;
        p = end + 1;
    }
}

}  // namespace

string address_display_name(const char* address)
{
    if (!address) return string();
    char field[field_size] = "";
    string name;
    if (std::strchr(address, '<')) {
        if (std::sscanf(address, "%1023[^<]", field) == 1) name = trim_trailing_blanks(string(field));
    } else if (const char* open = std::strchr(address, '(')) {
        if (std::sscanf(open + 1, "%1023[^)]", field) == 1) name = field;
    }
    return unquote(unquote(name, '"'), '\'');
}

string address_only(const char* address)
{
    if (!address) return string();
    char field[field_size] = "";
    if (const char* open = std::strchr(address, '<')) {
        if (std::sscanf(open + 1, "%1023[^>]", field) == 1) return string(field);
        return string();
    }
    if (std::strchr(address, '(')) {
        if (std::sscanf(address, "%1023[^(]", field) == 1) return trim_trailing_blanks(string(field));
        return string();
    }
    return string(address);
}

string address_domain(const char* address)
{
    string only = address_only(address);
    char field[field_size] = "";
    if (std::sscanf(only.c_str(), "%*[^@]@%1023s", field) != 1) return string();
    return unquote(field, '"');
}

bool is_valid_address(const char* text)
{
    if (!text || !*text) return false;
    char local[field_size] = "", domain[field_size] = "";
    if (std::sscanf(text, "%1023[^@]@%1023s", local, domain) != 2) return false;
    if (!*local || !*domain) return false;
    if (std::strpbrk(local, " ,")) return false;
    return std::strchr(domain, '.') && !std::strpbrk(domain, " ,");
}

string translate_address(const char* address, bool& found)
{
    string a = unquote(address, '"');
    a.rtrim_char(' ');
    a.rtrim_char('\t');
    string d = address_display_name(a.c_str());
    string m = address_only(a.c_str());
    string result = a;

    ListOfIterator patterns(alias_patterns());
    ListOfIterator replacements(alias_replacements());
    void* pattern;
    void* replacement;
    for (int more = patterns.first(pattern) && replacements.first(replacement); more;
         more = patterns.next(pattern) && replacements.next(replacement)) {
        const char* ptext = static_cast<const char*>(pattern);
        string pd = address_display_name(ptext);
        string pm = address_only(ptext);
        if (nocase_compare(pm.c_str(), m.c_str()) != 0) continue;
        if (pd.empty()) {
            result = static_cast<const char*>(replacement);
            found = true;
        } else if (nocase_compare(pd.c_str(), d.c_str()) == 0) {
            result = static_cast<const char*>(replacement);
            found = true;
            break;
        }
    }
    return result;
}

string translate_address_list(const char* list, bool& found)
{
    string joined;
    bool first = true;
    for_each_list_item(list, [&](const string& item) {
        string t = translate_address(item.c_str(), found);
        if (!first) joined += ',';
        joined += t;
        first = false;
    });
    return joined;
}

int count_display_name_matches(const char* list, const char* name)
{
    int count = 0;
    for_each_list_item(list, [&](const string& item) {
        if (name && address_display_name(item.c_str()) == name) ++count;
    });
    return count;
}

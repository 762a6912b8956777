#include "engine/option_reader.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/text_utils.h"
#include "engine/option_state.h"
#include "engine/option_table.h"

namespace {

}  // namespace

OptionArg make_option_arg(const string& value, const char* raw)
{
    char* end = nullptr;
    long number = std::strtol(raw, &end, 10);
    // Every numeric option is an int: a larger number means the largest,
    // never what is left after the high bits are cut ("-msglen:4294967298").
    if (number > INT_MAX) number = INT_MAX;
    if (number < INT_MIN) number = INT_MIN;
    return OptionArg{value, raw, number, end != raw};
}

namespace {

bool row_applies(const OptionRow& row)
{
    switch (row.group) {
    case OptionGroup::imap_only: return options().imap != 0;
    case OptionGroup::pgp_only: return options().pgp != 0;
    case OptionGroup::plain_attach: return options().vpim == 0;
    case OptionGroup::vpim_attach: return options().vpim != 0;
    default: return true;
    }
}

// The rest of the argument when it matches the row's name, else null.
const char* match_row(const OptionRow& row, const char* arg)
{
    size_t n = std::strlen(row.name);
    if (n > 0 && row.name[n - 1] == ':') return std::strncmp(arg, row.name, n) == 0 ? arg + n : nullptr;
    return std::strcmp(arg, row.name) == 0 ? arg + n : nullptr;
}

void apply_row(const OptionRow& row, const char* raw)
{
    string value = row.kind == ValueKind::verbatim ? string(raw)
                   : row.kind == ValueKind::escape ? unquote(raw, '"', true)
                                                   : unquote(raw, '"');
    row.apply(make_option_arg(value, raw));
}

}  // namespace

void read_options(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i] ? argv[i] : "";
        for (size_t r = 0; r < option_row_count; ++r) {
            const OptionRow& row = option_rows[r];
            if (!row_applies(row)) continue;
            if (const char* rest = match_row(row, arg)) {
                apply_row(row, rest);
                break;
            }
        }
    }
}

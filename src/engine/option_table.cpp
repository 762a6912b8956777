#include "engine/option_table.h"

#include "engine/option_state.h"
#include "engine/run_state.h"

namespace {

OptionState& o() { return options(); }

constexpr ValueKind plain = ValueKind::plain;
constexpr OptionGroup always = OptionGroup::always;

}  // namespace

const OptionRow option_rows[] = {
    {"-file:", plain, always, [](const OptionArg& a) {
         o().file = a.value;
         run_state().file_list.add(a.value);
     }},
    {"-noop", plain, always, [](const OptionArg&) { o().noop = 1; }},
    {"-v:", ValueKind::verbatim, always, [](const OptionArg& a) { o().verbose = static_cast<int>(a.number); }},
    {"-v", plain, always, [](const OptionArg&) { o().verbose = 1; }},
    {"-severy:", plain, always, [](const OptionArg& a) {
         o().every = a.number < 0 ? 1 : static_cast<int>(a.number);
     }},
    {"-every:", plain, always, [](const OptionArg& a) {
         long seconds = 60 * a.number;
         o().every = seconds < 60 ? 60 : static_cast<int>(seconds);
     }},
    {"-user:", ValueKind::verbatim, always, [](const OptionArg& a) { o().user = a.value; }},
    {"-pass:", ValueKind::verbatim, always, [](const OptionArg& a) { o().pass = a.value; }},
    {"-rmfile:", plain, always, [](const OptionArg& a) { o().rmfile = a.value; }},
};

const size_t option_row_count = sizeof option_rows / sizeof option_rows[0];

// Row actions shared by the option table and the configuration keyword
// table: set a text, a flag or a number field of the option state.
#pragma once

#include "engine/option_state.h"
#include "engine/option_table.h"

namespace setters {

inline OptionState& o() { return options(); }

template <string OptionState::*Field>
void text(const OptionArg& a)
{
    o().*Field = a.value;
}

template <int OptionState::*Field, int Value>
void flag(const OptionArg&)
{
    o().*Field = Value;
}

template <int OptionState::*Field>
void number(const OptionArg& a)
{
    o().*Field = static_cast<int>(a.number);
}

template <string OptionState::*Field>
void clear_text(const OptionArg&)
{
    (o().*Field).clear();
}

template <int OptionState::*Field>
void number_if_any(const OptionArg& a)
{
    if (a.number_given) o().*Field = static_cast<int>(a.number);
}

// The disconnect command always ends in "/disconnect".
inline void set_disconnect(const string& command)
{
    string full = command;
    if (!find_nocase(full.c_str(), "/disconnect")) full += " /disconnect";
    o().disconnect = full;
}

}  // namespace setters

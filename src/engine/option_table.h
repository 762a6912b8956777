// The rows of the main option reader. A name that ends in ':' matches every
// argument beginning with it (the rest is the value); any other name matches
// only the argument equal to it.
#pragma once

#include <cstddef>

#include "base/text_string.h"

enum class ValueKind { plain, escape, verbatim };
// Which rows are tried: every time, only after "-imap", only after "-pgp",
// and the two forms of "-a:" (before and after "-vpim").
enum class OptionGroup { always, imap_only, pgp_only, plain_attach, vpim_attach };

struct OptionArg {
    const string& value;  // after unquote (or verbatim)
    const char* raw;      // the argument's rest, unchanged
    long number;          // strtol of raw
    bool number_given;    // raw began with a number (after blanks and a sign)
};

struct OptionRow {
    const char* name;
    ValueKind kind;
    OptionGroup group;
    void (*apply)(const OptionArg& arg);
};

OptionArg make_option_arg(const string& value, const char* raw);

extern const OptionRow option_rows[];
extern const size_t option_row_count;

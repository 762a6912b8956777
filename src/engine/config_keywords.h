// The configuration keyword table.
#pragma once

#include <cstddef>

#include "engine/option_table.h"

// How much of the line's rest a keyword takes as its value.
enum class ConfigValue { none, w255, w1023 };

struct ConfigRow {
    const char* keyword;
    ConfigValue value;
    bool escape;
    void (*apply)(const OptionArg& arg);
};

extern const ConfigRow config_rows[];
extern const size_t config_row_count;
extern const char* const config_label_exceptions[];
extern const size_t config_label_exception_count;

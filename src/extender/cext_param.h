// Reads one script argument (1-based) from the host's array of records.
#pragma once

#include <cstdint>

#include "extender/zeb_abi.h"

class CExtParam {
public:
    enum Flags { present = 1, integer_valid = 2, text_present = 4, other_kind = 8 };

    // Records past count (the number the host passed) are absent.
    CExtParam(ZebValue* args, int n, int32_t count = 2147483647);
    virtual ~CExtParam() = default;

    // A text of min to max characters; else false and the error id is set
    // (id for a text of the wrong length, 15330 + n when not a text).
    bool check_text(int min, int max, int id);
    // The integer, or the text read as an integer literal; else 0 and the
    // error id 15310 + n.
    int32_t get_integer();

    bool is_text() const { return (flags & text_present) != 0; }
    // The text, or "" when the argument is not one.
    const char* text_or_empty() const { return is_text() && text ? text : ""; }

    uint32_t flags = 0;
    int n;
    const char* text = nullptr;
    int32_t integer = 0;
    ZebValue* record = nullptr;
    int error_id = 0;
};

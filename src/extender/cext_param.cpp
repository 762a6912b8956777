#include "extender/cext_param.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

// Blanks, an optional sign, then digits and nothing after them.
bool integer_literal(const char* t)
{
    while (*t == ' ') ++t;
    if (*t == '+' || *t == '-') ++t;
    if (!std::isdigit(static_cast<unsigned char>(*t))) return false;
    while (std::isdigit(static_cast<unsigned char>(*t))) ++t;
    return *t == 0;
}

}  // namespace

CExtParam::CExtParam(ZebValue* args, int n_in, int32_t count) : n(n_in)
{
    if (!args || n < 1 || n > count) return;
    ZebValue& v = args[n - 1];
    if (v.type & zeb_text) {
        text = v.text;
        flags |= present | text_present;
    }
    if (v.type & zeb_integer) {
        integer = v.integer;
        flags |= present | integer_valid;
    }
    if (v.type & zeb_other) {
        flags |= present | other_kind;
        record = &v;
    }
}

bool CExtParam::check_text(int min, int max, int id)
{
    if (is_text() && text) {
        size_t length = std::strlen(text);
        if (static_cast<long long>(length) >= min && static_cast<long long>(length) <= max) return true;
        error_id = id;
        return false;
    }
    error_id = is_text() ? id : 15330 + n;
    return false;
}

int32_t CExtParam::get_integer()
{
    if (flags & integer_valid) return integer;
    if (is_text() && text && *text && integer_literal(text)) {
        integer = static_cast<int32_t>(std::strtol(text, nullptr, 10));
        flags |= integer_valid;
        return integer;
    }
    error_id = 15310 + n;
    return integer;
}

// What a host's result callback received last, for tests that call the
// library's entry point as a host does.
#pragma once

#include <cstdint>
#include <string>

#include "extender/zeb_abi.h"

struct HostResult {
    int32_t code = 99;  // 99: the callback was not called
    uint32_t type = 0;
    int32_t integer = 0;
    std::string text;
};

inline HostResult last;

inline int32_t on_result(int32_t code, int32_t, ZebServices*, ZebValue* r)
{
    last = {code, r->type, r->integer, r->type == zeb_text && r->text ? r->text : ""};
    return code;
}

// The functions' indices in the table.
enum ZebIndex { kverinfo, kinit, kdest, kextra, ksendtext, ksendfile, kgetmail, kmanageimap4, kstatusinfo, kdeletepop3 };

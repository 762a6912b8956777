// The library's two entry points. Nothing thrown inside ever reaches the
// host: a failure becomes the result 0.
#include <cstdint>

#include "extender/zeb_tavrin.h"

#define ZEB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

CZebTavrin the_extender;
CZebTavrin* extender_pointer = &the_extender;

}  // namespace

CZebTavrin& zeb_tavrin() { return the_extender; }

ZEB_EXPORT int32_t ZEBExtenderQuery(int16_t type, intptr_t a, intptr_t b)
{
    if (!extender_pointer) return 0;
    try {
        switch (type) {
        case 1: return extender_pointer->describe(reinterpret_cast<char*>(a), static_cast<int32_t>(b));
        case 2: return extender_pointer->select_interface(reinterpret_cast<const int32_t*>(a), static_cast<int32_t>(b));
        default: return 0;
        }
    } catch (...) {
        return 0;
    }
}

ZEB_EXPORT int32_t ZEBExtender2(void* context, intptr_t value, int32_t stored, int16_t index,
                                ZebResultCallback callback, ZebServices* services, intptr_t value7, void* argument,
                                int32_t count, ZebValue* result)
{
    CZebTavrin* x = extender_pointer;
    if (!x) return 0;
    try {
        x->stored_value = stored;
        x->result_callback = callback;
        x->services = services;
        x->result_record = result;
        x->function_index = index;
        switch (index) {
        case -3: return x->notify();
        case -2: return x->describe_function(context, value, value7, argument, count);
        case -1: return x->count_functions(context, value, value7, argument, count);
        default: {
            ZebHandler h = x->function_table()[index].handler;
            return (static_cast<CZebExtender*>(x)->*h)(context, value, value7, static_cast<ZebValue*>(argument),
                                                       count);
        }
        }
    } catch (...) {
        return 0;
    }
}

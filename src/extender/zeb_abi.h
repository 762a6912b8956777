// The records the host and the library exchange: value records (56 bytes),
// the host's services record, the 80-byte function table entries and the
// result callback. Offsets are fixed; the static_asserts hold them.
#pragma once

#include <cstddef>
#include <cstdint>

// Type flags of a value record.
enum ZebType : uint32_t {
    zeb_integer = 1,
    zeb_text = 2,
    zeb_float = 32,
    zeb_other = 0x100,
    zeb_block = 512,
};

struct ZebValue {
    unsigned char block[24];
    double floating;
    int32_t integer;
    uint32_t type;
    const char* text;
    unsigned char reserved[8];
};
static_assert(sizeof(ZebValue) == 56, "value records are 56 bytes");
static_assert(offsetof(ZebValue, floating) == 24 && offsetof(ZebValue, integer) == 32 &&
                  offsetof(ZebValue, type) == 36 && offsetof(ZebValue, text) == 40,
              "value record offsets");

struct ZebServices;
using ZebServiceCall = intptr_t (*)(void* host_data, intptr_t a, intptr_t b);
using ZebErrorDetail = intptr_t (*)(void* host_data, const char* text, ZebServices* services);

struct ZebServices {
    unsigned char host_reserved[16];
    int32_t version;                 // functions are offered above 1004
    unsigned char pad1[12];
    void* host_data;                 // first argument of every service call
    unsigned char pad2[16];
    ZebServiceCall service_1;        // 56
    ZebServiceCall service_2;        // 64
    ZebServiceCall service_3;        // 72
    ZebErrorDetail error_detail;     // 80
    ZebServiceCall service_4;        // 88
};
static_assert(offsetof(ZebServices, version) == 16 && offsetof(ZebServices, host_data) == 32 &&
                  offsetof(ZebServices, service_1) == 56 && offsetof(ZebServices, error_detail) == 80 &&
                  offsetof(ZebServices, service_4) == 88,
              "services record offsets");

// (code, stored value, services record, result record) -> what the export returns.
using ZebResultCallback = int32_t (*)(int32_t code, int32_t stored, ZebServices* services, ZebValue* result);

// The two exports, as a host that loads the library calls them.
using ZebQueryExport = int32_t (*)(int16_t type, intptr_t a, intptr_t b);
using ZebCallExport = int32_t (*)(void* context, intptr_t value, int32_t stored, int16_t index,
                                  ZebResultCallback callback, ZebServices* services, intptr_t value7, void* argument,
                                  int32_t count, ZebValue* result);

class CZebExtender;
// A script function: (host context, host value, host value, arguments, count).
using ZebHandler = int32_t (CZebExtender::*)(void* context, intptr_t value, intptr_t value7, ZebValue* args,
                                             int32_t count);

// What the host receives when it asks to have an entry described: the
// first 56 bytes of a table entry.
struct ZebFunctionInfo {
    int32_t index;           // -1 ends the table
    int32_t kind;            // 2: a script function
    uint64_t parameter_types;  // 4 bits a parameter, parameter 1 lowest; 1 text, 0 any
    uint32_t parameter_counts; // low byte required, next byte optional
    uint16_t name_length;
    char name[34];
};
static_assert(sizeof(ZebFunctionInfo) == 56, "a described entry is 56 bytes");
static_assert(offsetof(ZebFunctionInfo, parameter_counts) == 16 && offsetof(ZebFunctionInfo, name) == 22,
              "function entry offsets");

struct ZebFunctionEntry {
    ZebFunctionInfo info;
    ZebHandler handler;      // 56: the operation and its object adjustment (64)
    unsigned char pad[4];
    int32_t end_mark;        // -1 in the end entry
};
static_assert(sizeof(ZebFunctionEntry) == 80, "function table entries are 80 bytes");
static_assert(offsetof(ZebFunctionEntry, handler) == 56, "the handler is at offset 56");

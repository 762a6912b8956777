// zebhost: a stand-in for the scripting host. It loads an extender library,
// makes the host's discovery calls, then runs script-like calls given as
// arguments and prints each result (or the error code and message).
//
//   zebhost build/libzebtavrin.so 'kinit("smtp.example.com","me@example.com","","","25")' 'kverinfo(1)'
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

#include "call_parser.h"
#include "extender/zeb_abi.h"

namespace {

using QueryFunction = ZebQueryExport;
using CallFunction = ZebCallExport;

// What the last result callback delivered.
struct Delivered {
    int32_t code = 0;
    bool called = false;
    uint32_t type = 0;
    int32_t integer = 0;
    std::string text;
} delivered;

int32_t on_result(int32_t code, int32_t, ZebServices*, ZebValue* result)
{
    delivered.called = true;
    delivered.code = code;
    delivered.type = result ? result->type : 0;
    delivered.integer = result ? result->integer : 0;
    delivered.text = result && result->type == zeb_text && result->text ? result->text : "";
    return code;
}

intptr_t on_error_detail(void*, const char* text, ZebServices*)
{
    std::fprintf(stderr, "zebhost: error detail: %s\n", text ? text : "");
    return 0;
}

struct FunctionEntry {
    int index;
    std::string name;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zebhost LIBRARY ['function(arguments)' ...]\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "zebhost: %s\n", dlerror());
        return 2;
    }
    auto query = reinterpret_cast<QueryFunction>(dlsym(library, "ZEBExtenderQuery"));
    auto call = reinterpret_cast<CallFunction>(dlsym(library, "ZEBExtender2"));
    if (!query || !call) {
        std::fprintf(stderr, "zebhost: %s does not export ZEBExtenderQuery and ZEBExtender2\n", argv[1]);
        return 2;
    }

    char description[256] = "";
    int32_t version = query(1, reinterpret_cast<intptr_t>(description), sizeof description);
    int32_t offered[] = {3, 4};
    if (query(2, reinterpret_cast<intptr_t>(offered), 2) != 4) {
        std::fprintf(stderr, "zebhost: the library does not speak interface 4\n");
        return 2;
    }
    ZebServices services{};
    services.version = 1005;
    services.error_detail = on_error_detail;
    ZebValue result{};
    char message[256] = "";
    int32_t count = call(nullptr, 0, 0, -1, on_result, &services, 0, message, sizeof message, &result);
    if (count < 0) {
        std::fprintf(stderr, "zebhost: the library refuses: %s\n", message);
        return 2;
    }
    std::vector<FunctionEntry> functions;
    std::fprintf(stderr, "zebhost: %s, version %d, %d functions:", description, version, count);
    for (int n = 0; n < count; ++n) {
        ZebFunctionInfo info{};
        if (call(nullptr, 0, 0, -2, on_result, &services, 0, &info, n, &result) != 1) break;
        functions.push_back({info.index, std::string(info.name, info.name_length)});
        std::fprintf(stderr, " %s", functions.back().name.c_str());
    }
    std::fprintf(stderr, "\n");

    int status = 0;
    for (int i = 2; i < argc; ++i) {
        ScriptCall script;
        std::string error;
        if (!parse_call(argv[i], script, error)) {
            std::fprintf(stderr, "zebhost: %s: %s\n", argv[i], error.c_str());
            return 2;
        }
        const FunctionEntry* target = nullptr;
        for (const FunctionEntry& f : functions)
            if (f.name == script.name) target = &f;
        if (!target) {
            std::fprintf(stderr, "zebhost: no function %s\n", script.name.c_str());
            return 2;
        }
        std::vector<ZebValue> args(script.arguments.size() + 1);
        for (size_t a = 0; a < script.arguments.size(); ++a) {
            std::memset(&args[a], 0, sizeof args[a]);
            if (script.arguments[a].is_text) {
                args[a].type = zeb_text;
                args[a].text = script.arguments[a].text.c_str();
            } else {
                args[a].type = zeb_integer;
                args[a].integer = static_cast<int32_t>(script.arguments[a].integer);
            }
        }
        std::memset(&args.back(), 0, sizeof args.back());  // an absent record after the last
        delivered = Delivered();
        result = ZebValue{};
        call(nullptr, 0, 0, static_cast<int16_t>(target->index), on_result, &services, 0, args.data(),
             static_cast<int32_t>(script.arguments.size()), &result);
        if (!delivered.called) {
            std::fprintf(stderr, "zebhost: %s gave no result\n", script.name.c_str());
            status = 1;
        } else if (delivered.code != 0) {
            std::fprintf(stderr, "zebhost: %s failed with code %d: %s\n", script.name.c_str(), delivered.code,
                         delivered.text.c_str());
            status = 1;
        } else if (delivered.type == zeb_text) {
            std::printf("%s\n", delivered.text.c_str());
        } else {
            std::printf("%d\n", delivered.integer);
        }
        std::fflush(stdout);
    }
    dlclose(library);
    return status;
}

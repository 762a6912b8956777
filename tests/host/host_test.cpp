// The library as the host sees it: loaded with dlopen and called through
// its two exports only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <string>
#include <vector>

#include "extender/zeb_abi.h"
#include "../support/host_result.h"

namespace {

using QueryFunction = ZebQueryExport;
using CallFunction = ZebCallExport;

// A script argument: absent, an integer or a text.
struct Arg {
    uint32_t type;
    int32_t integer;
    std::string text;
};
Arg text(const std::string& t) { return {zeb_text, 0, t}; }
Arg number(int32_t n) { return {zeb_integer, n, ""}; }

class Library {
public:
    explicit Library(const std::string& path)
    {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        query = reinterpret_cast<QueryFunction>(dlsym(handle, "ZEBExtenderQuery"));
        call = reinterpret_cast<CallFunction>(dlsym(handle, "ZEBExtender2"));
        services.version = 1005;
    }
    ~Library()
    {
        if (handle) dlclose(handle);
    }

    int32_t invoke(int16_t index, const std::vector<Arg>& args)
    {
        std::vector<ZebValue> records(args.size() + 1);
        std::memset(records.data(), 0, records.size() * sizeof(ZebValue));
        for (size_t i = 0; i < args.size(); ++i) {
            records[i].type = args[i].type;
            records[i].integer = args[i].integer;
            records[i].text = args[i].text.c_str();
        }
        last = HostResult();
        ZebValue result{};
        return call(nullptr, 0, 7, index, on_result, &services, 0, records.data(), static_cast<int32_t>(args.size()),
                    &result);
    }

    void* handle = nullptr;
    QueryFunction query = nullptr;
    CallFunction call = nullptr;
    ZebServices services{};
};

}  // namespace

TEST(Host, InterfaceSelectionAndDescription)
{
    Library lib(TAVRIN_LIBRARY);
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    int32_t none[] = {1, 2, 3}, some[] = {3, 4};
    EXPECT_EQ(lib.query(2, reinterpret_cast<intptr_t>(none), 3), -1);
    EXPECT_EQ(lib.query(2, reinterpret_cast<intptr_t>(some), 2), 4);
    EXPECT_EQ(lib.query(9, 0, 0), 0);
    char description[256];
    EXPECT_EQ(lib.query(1, reinterpret_cast<intptr_t>(description), sizeof description), 1);
    EXPECT_STREQ(description, "Korvanel Tavrin email and news extender");
    char small[8];
    lib.query(1, reinterpret_cast<intptr_t>(small), sizeof small);
    EXPECT_STREQ(small, "Korvane");
}

TEST(Host, FunctionCountNeedsAHostAbove1004)
{
    Library lib(TAVRIN_LIBRARY);
    ZebValue result{};
    char buffer[32];
    lib.services.version = 1004;
    EXPECT_EQ(lib.call(nullptr, 0, 0, -1, on_result, &lib.services, 0, buffer, sizeof buffer, &result), -1);
    EXPECT_STREQ(buffer, "Need newer version of ZEB DLL");
    char tiny[8];
    lib.call(nullptr, 0, 0, -1, on_result, &lib.services, 0, tiny, sizeof tiny, &result);
    EXPECT_STREQ(tiny, "Need n");  // at most size - 2 characters
    lib.services.version = 1005;
    EXPECT_EQ(lib.call(nullptr, 0, 0, -1, on_result, &lib.services, 0, buffer, sizeof buffer, &result), 10);
}

TEST(Host, DescribingEntries)
{
    Library lib(TAVRIN_LIBRARY);
    ZebValue result{};
    ZebFunctionInfo info{};
    EXPECT_EQ(lib.call(nullptr, 0, 0, -2, on_result, &lib.services, 0, &info, 10, &result), 0);
    EXPECT_EQ(lib.call(nullptr, 0, 0, -2, on_result, &lib.services, 0, &info, 3, &result), 1);
    EXPECT_STREQ(info.name, "kextra");
    EXPECT_EQ(info.name_length, 6);
    EXPECT_EQ(info.index, 3);
    EXPECT_EQ(info.kind, 2);
    EXPECT_EQ(info.parameter_types, 0x11111u);
    EXPECT_EQ(info.parameter_counts, 0x203u);
    EXPECT_EQ(lib.call(nullptr, 0, 0, -3, on_result, &lib.services, 0, nullptr, 0, &result), 1);
}

TEST(Host, VersionAnswersAndArgumentReading)
{
    Library lib(TAVRIN_LIBRARY);
    lib.invoke(kverinfo, {number(1)});
    EXPECT_EQ(last.code, 0);
    EXPECT_EQ(last.integer, 10);
    lib.invoke(kverinfo, {text(" 2")});
    EXPECT_EQ(last.integer, 0);
    lib.invoke(kverinfo, {number(15139)});
    EXPECT_EQ(last.text, "15139: 'Pat' and 'nopat' search patterns are mutually exclusive.  Use one or the other.");
    lib.invoke(kverinfo, {text("x")});
    EXPECT_EQ(last.code, -1);
    EXPECT_EQ(last.text, "15311: Parameter one must be a number.");
    // get_integer: blanks and a sign are fine, a lone sign or a trailing letter is not.
    struct Case { const char* binary; int code; } cases[] = {{"  -12", 0}, {"-", -1}, {"12a", -1}, {"+3", 0}};
    for (const auto& c : cases) {
        lib.invoke(kextra, {text(""), text(c.binary), text("")});
        EXPECT_EQ(last.code, c.code) << c.binary;
        if (c.code) {
            EXPECT_EQ(last.text, "15312: Parameter two must be a number.");
        }
    }
}

TEST(Host, TextChecks)
{
    Library lib(TAVRIN_LIBRARY);
    std::string long_text(257, 'h');
    lib.invoke(kinit, {text(long_text), text(""), text(""), text(""), text("")});
    EXPECT_EQ(last.text, "15341: Parameter one - string is too long.");
    lib.invoke(kinit, {number(5), text(""), text(""), text(""), text("")});
    EXPECT_EQ(last.text, "15331: Parameter one must be a string.");
    lib.invoke(kinit, {text("h"), text(""), text(""), text(std::string(257, 'p')), text("")});
    EXPECT_EQ(last.text, "15344: Parameter four - string is too long.");
    lib.invoke(kinit, {text(std::string(256, 'h')), text(""), text(""), text(""), text("")});
    EXPECT_EQ(last.code, 0);
}

TEST(Host, LanguageFileTranslatesButNotBelow100)
{
    // A copy of the library in a folder of its own, with a language file
    // beside it, is a fresh extender that looks for its language anew.
    char t[] = "/tmp/tvlangXXXXXX";
    ASSERT_NE(mkdtemp(t), nullptr);
    std::string dir = t;
    std::system(("cp " + std::string(TAVRIN_LIBRARY) + " " + dir + "/libcopy.so").c_str());
    std::ofstream(dir + "/KRVELANG.enu") << "[ZEB Tavrin Extender Extender]\r\nX15139=First~Second|tabbed\r\n"
                                            "X50=from the file\r\n";
    std::string config = dir + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    {
        Library lib(dir + "/libcopy.so");
        ASSERT_NE(lib.handle, nullptr);
        lib.invoke(kverinfo, {number(15139)});
        EXPECT_EQ(last.text, "First\nSecond\ttabbed");
        lib.invoke(kverinfo, {number(50)});
        EXPECT_EQ(last.text, "");  // ids below 100 come from the library itself
        lib.invoke(kverinfo, {number(15123)});
        EXPECT_EQ(last.text.substr(0, 6), "15123:");
    }
    unsetenv("XDG_CONFIG_HOME");
    std::system(("rm -rf " + dir).c_str());
}

#include "extender/zeb_extender.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "extender/resource_strings.h"
#include "platform/module_files.h"
#include "platform/profile.h"
#include "platform/system_errors.h"

namespace {

const char* const settings_file = "KORVANEL.INI";

// Where message texts come from: the language file, when one was found.
struct LanguageState {
    int state = 0;  // 0 not yet looked for, 1 none, 2 found
    string file;
    string section;
};

LanguageState language;

// Copies at most size - 1 characters and a terminating zero.
void copy_bounded(char* buffer, int32_t size, const char* text)
{
    if (!buffer || size <= 0) return;
    size_t n = std::strlen(text);
    if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = 0;
}

}  // namespace

CZebExtender::CZebExtender() : buffer_(inline_buffer_), capacity_(sizeof inline_buffer_) { inline_buffer_[0] = 0; }

CZebExtender::~CZebExtender()
{
    if (buffer_ != inline_buffer_) delete[] buffer_;
}

char* CZebExtender::result_buffer(int32_t size, bool keep)
{
    if (size <= capacity_) return buffer_;
    char* bigger = new char[size];
    if (keep) std::memcpy(bigger, buffer_, static_cast<size_t>(capacity_));
    else bigger[0] = 0;
    if (buffer_ != inline_buffer_) delete[] buffer_;
    buffer_ = bigger;
    capacity_ = size;
    return buffer_;
}

int32_t CZebExtender::describe(char* buffer, int32_t size)
{
    if (buffer && size > 0) copy_bounded(buffer, size < 256 ? size : 256, description);
    read_version();
    return version;
}

int32_t CZebExtender::select_interface(const int32_t* versions, int32_t count)
{
    for (int32_t i = 0; versions && i < count; ++i)
        if (versions[i] == 4) return 4;
    return -1;
}

int32_t CZebExtender::count_functions(void*, intptr_t, intptr_t, void* buffer, int32_t size)
{
    if (services && services->version > 1004) {
        int32_t n = 0;
        for (ZebFunctionEntry* e = function_table(); e->info.index != -1; ++e) ++n;
        return n;
    }
    if (buffer && size > 0) {
        char* text = static_cast<char*>(buffer);
        std::memset(text, 0, static_cast<size_t>(size));
        copy_bounded(text, size - 1, "Need newer version of ZEB DLL");
    }
    return -1;
}

int32_t CZebExtender::describe_function(void*, intptr_t, intptr_t, void* record, int32_t n)
{
    ZebFunctionEntry& entry = function_table()[n];
    if (entry.info.index == -1) return 0;
    if (!record) return 1;
    entry.info.index = n;
    size_t length = strnlen(entry.info.name, sizeof entry.info.name - 1);
    for (size_t i = 0; i < length; ++i)
        entry.info.name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(entry.info.name[i])));
    entry.info.name_length = static_cast<uint16_t>(length);
    std::memcpy(record, &entry.info, sizeof entry.info);
    return 1;
}

int32_t CZebExtender::notify() { return 1; }

int32_t CZebExtender::deliver(int32_t code)
{
    if (!result_callback) return code;
    return result_callback(code, stored_value, services, result_record);
}

int32_t CZebExtender::return_value(const ZebValue& value)
{
    if (result_record) {
        std::memcpy(result_record->block, value.block, sizeof value.block);
        result_record->floating = value.floating;
        result_record->integer = value.integer;
        result_record->type = value.type;
        result_record->text = value.text;
    }
    return deliver(0);
}

int32_t CZebExtender::return_block(const unsigned char* block)
{
    if (result_record) {
        std::memcpy(result_record->block, block, sizeof result_record->block);
        result_record->type = zeb_block;
    }
    return deliver(0);
}

int32_t CZebExtender::return_text(const char* text)
{
    if (result_record) {
        result_record->text = text;
        result_record->type = zeb_text;
    }
    return deliver(0);
}

int32_t CZebExtender::return_float(double value)
{
    if (result_record) {
        result_record->floating = value;
        result_record->type = zeb_float;
    }
    return deliver(0);
}

int32_t CZebExtender::return_status(int32_t value) { return return_integer(value); }

int32_t CZebExtender::return_integer(int32_t value)
{
    if (result_record) {
        result_record->integer = value;
        result_record->type = zeb_integer;
    }
    return deliver(0);
}

int32_t CZebExtender::return_error(int32_t code, int32_t message_id)
{
    char* text = result_buffer(512, false);
    message_text(message_id, text, capacity_);
    if (result_record) {
        result_record->text = text;
        result_record->type = zeb_text;
    }
    return deliver(code);
}

int32_t CZebExtender::unsupported() { return -5; }

intptr_t CZebExtender::host_service_1()
{
    return services && services->service_1 ? services->service_1(services->host_data, 56, 0) : 0;
}

intptr_t CZebExtender::host_service_2()
{
    return services && services->service_2 ? services->service_2(services->host_data, 56, 0) : 0;
}

intptr_t CZebExtender::host_service_3()
{
    return services && services->service_3 ? services->service_3(services->host_data, 56, 0) : 0;
}

intptr_t CZebExtender::host_service_4()
{
    return services && services->service_4 ? services->service_4(services->host_data, 0, 0) : 0;
}

int32_t CZebExtender::message_text(int32_t id, char* buffer, int32_t size)
{
    static char shared[256];
    if (size == 0 || !buffer) {
        buffer = shared;
        size = sizeof shared;
    }
    if (language.state == 0 || id == 0) {
        language.state = 1;
        char code[20];
        load_setting("MAIN", "Language", "XXX", code, sizeof code, settings_file);
        if (std::strcmp(code, "XXX") == 0) std::strcpy(code, "enu");  // no system language setting here
        string file_name = string("KRVELANG.") + code;
        string found = search_file(module_folder().c_str(), file_name.c_str());
        if (!found.empty()) {
            language.file = found;
            language.section = string(name).substr(0, 519) + " Extender";
            language.state = 2;
        }
    }
    string text;
    bool from_file = false;
    if (id >= 100 && language.state == 2) {
        char key[24];
        std::snprintf(key, sizeof key, "X%d", id);
        text = read_profile_string(language.section.c_str(), key, "XXX", language.file.c_str());
        from_file = text != "XXX";
    }
    if (!from_file) {
        const char* resource = resource_string(id);
        text = resource ? resource : "";
    }
    // "~" stands for a line feed and "|" for a tab.
    string translated = text.replace_char('~', '\n').replace_char('|', '\t');
    copy_bounded(buffer, size, translated.c_str());
    return static_cast<int32_t>(std::strlen(buffer));
}

bool CZebExtender::read_version()
{
    char file_version[32];
    std::snprintf(file_version, sizeof file_version, "%d.%d.%d", TAVRIN_VERSION_MAJOR, TAVRIN_VERSION_MINOR,
                  TAVRIN_VERSION_PATCH);
    version = static_cast<int32_t>(std::strtol(file_version, nullptr, 10));
    return true;
}

bool CZebExtender::settings_folder(char* buffer, int32_t size)
{
    string folder = user_settings_folder();
    if (folder.empty() || !buffer || size <= 0 || folder.length() + 1 > static_cast<size_t>(size)) return false;
    copy_bounded(buffer, size, folder.c_str());
    return true;
}

int32_t CZebExtender::load_setting(const char* section, const char* key, const char* fallback, char* buffer,
                                   int32_t size, const char* file_name)
{
    char folder[4096];
    string value = fallback ? fallback : "";
    if (settings_folder(folder, sizeof folder))
        value = read_profile_string(section, key, fallback, (std::string(folder) + "/" + file_name).c_str());
    copy_bounded(buffer, size, value.c_str());
    return static_cast<int32_t>(std::strlen(buffer));
}

bool CZebExtender::save_setting(const char* section, const char* key, const char* value)
{
    char folder[4096];
    if (!settings_folder(folder, sizeof folder)) return false;
    return write_profile_string(section, key, value, (std::string(folder) + "/" + settings_file).c_str());
}

string shorten_detail(const string& text)
{
    if (text.length() <= 192) return text;
    long cut = text.rfind_char(' ', 189);
    if (cut < 0) cut = 189;
    return text.substr(0, static_cast<size_t>(cut)) + "...";
}

int32_t system_error_for_text(CZebExtender& extender, int32_t default_id, unsigned long result_code,
                              const string& system_text, string& detail)
{
    string text = system_text.replace_all("\n", "").replace_all("\r", "").replace_char('\t', ' ');
    if (text.empty()) return default_id;
    char code[16];
    std::snprintf(code, sizeof code, "%08lx", result_code);
    extender.save_setting("Tavrin Extender", "Source", "Win32");
    extender.save_setting("Tavrin Extender", "Code", code);
    extender.save_setting("Tavrin Extender", "Text", text.c_str());
    char pattern[256];
    extender.message_text(11010, pattern, sizeof pattern);
    std::string formatted(text.length() + 64, '\0');
    int n = std::snprintf(&formatted[0], formatted.size(), pattern, static_cast<unsigned>(result_code), text.c_str());
    detail = shorten_detail(string(formatted.data(), n > 0 ? static_cast<size_t>(n) : 0));
    return 11003;
}

int32_t CZebExtender::system_error_id(int32_t default_id, unsigned long code, string& detail)
{
    detail.clear();
    if (code == 0) return default_id;
    unsigned long result = 0x80070000ul | (code & 0xFFFF);
    switch (result) {
    case 0x80070006ul:
    case 0x8007001Ful:
    case 0x800704B8ul: return default_id;
    case 0x8007000Eul: return 11006;
    case 0x80070005ul: return 11007;
    case 0x800700A0ul: return 11009;
    default: return system_error_for_text(*this, default_id, result, system_error_text(code), detail);
    }
}

int32_t CZebExtender::report_system_error(int32_t code, int32_t message_id, const string& detail)
{
    char* text = result_buffer(2048, false);
    message_text(message_id, text, capacity_);
    if (!detail.empty() && services && services->error_detail)
        services->error_detail(services->host_data, detail.c_str(), services);
    if (result_record) {
        result_record->text = text;
        result_record->type = zeb_text;
    }
    return deliver(code);
}

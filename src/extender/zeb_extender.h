// The extender frame: what the host's two calls reach. One object of a
// derived class exists per loaded library.
#pragma once

#include <cstdint>

#include "base/text_string.h"
#include "extender/zeb_abi.h"

class CZebExtender {
public:
    CZebExtender();
    CZebExtender(const CZebExtender&) = delete;
    CZebExtender& operator=(const CZebExtender&) = delete;

    virtual ~CZebExtender();                                                       // 0
    virtual ZebFunctionEntry* function_table() = 0;                                // 1
    virtual int32_t describe(char* buffer, int32_t size);                          // 2
    virtual int32_t select_interface(const int32_t* versions, int32_t count);      // 3
    virtual int32_t count_functions(void* context, intptr_t value, intptr_t value7, void* buffer,
                                    int32_t size);                                 // 4
    virtual int32_t describe_function(void* context, intptr_t value, intptr_t value7, void* record,
                                      int32_t n);                                  // 5
    virtual int32_t notify();                                                      // 6
    virtual int32_t return_value(const ZebValue& value);                           // 7
    virtual int32_t return_block(const unsigned char* block);                      // 8
    virtual int32_t return_text(const char* text);                                 // 9
    virtual int32_t return_float(double value);                                    // 10
    virtual int32_t return_status(int32_t value);                                  // 11
    virtual int32_t return_integer(int32_t value);                                 // 12
    virtual int32_t return_error(int32_t code, int32_t message_id);                // 13
    virtual int32_t unsupported();                                                 // 14
    virtual intptr_t host_service_1();                                             // 15
    virtual intptr_t host_service_2();                                             // 16
    virtual intptr_t host_service_3();                                             // 17
    virtual intptr_t host_service_4();                                             // 18
    virtual int32_t message_text(int32_t id, char* buffer, int32_t size);          // 19

    // The result buffer with room for at least size bytes.
    char* result_buffer(int32_t size, bool keep);
    bool read_version();
    bool settings_folder(char* buffer, int32_t size);
    int32_t load_setting(const char* section, const char* key, const char* fallback, char* buffer, int32_t size,
                         const char* file_name);
    bool save_setting(const char* section, const char* key, const char* value);
    // The message id for a system error code; detail receives the text.
    int32_t system_error_id(int32_t default_id, unsigned long code, string& detail);
    int32_t report_system_error(int32_t code, int32_t message_id, const string& detail);

    // The last call's parameters, as ZEBExtender2 stored them.
    int32_t stored_value = 0;
    ZebResultCallback result_callback = nullptr;
    ZebServices* services = nullptr;
    ZebValue* result_record = nullptr;
    int16_t function_index = 0;
    char name[260] = "";
    int32_t version = 10001;
    char description[260] = "";

protected:
    int32_t deliver(int32_t code);
    char inline_buffer_[2048];
    char* buffer_;
    int32_t capacity_;
};

// The text of a system error detail: at most 192 characters, a longer one
// cut at a blank and ended with "...".
string shorten_detail(const string& text);
// Records a system error in the settings file and forms its detail from the
// system's text; the message id to report.
int32_t system_error_for_text(CZebExtender& extender, int32_t default_id, unsigned long result_code,
                              const string& system_text, string& detail);

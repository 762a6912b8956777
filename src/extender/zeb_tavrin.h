// The mail extender: the ten script functions and the settings they keep
// between calls.
#pragma once

#include <vector>

#include "base/text_string.h"
#include "extender/cext_param.h"
#include "extender/zeb_extender.h"

using EngineEntry = int (*)(int argc, const char* const* argv);

class CZebTavrin : public CZebExtender {
public:
    CZebTavrin();
    ~CZebTavrin() override = default;

    ZebFunctionEntry* function_table() override;
    int32_t describe(char* buffer, int32_t size) override;
    int32_t count_functions(void* context, intptr_t value, intptr_t value7, void* buffer, int32_t size) override;

    int32_t kverinfo(void*, intptr_t, intptr_t, ZebValue* args, int32_t count);
    int32_t kinit(void*, intptr_t, intptr_t, ZebValue* args, int32_t count);
    int32_t kdest(void*, intptr_t, intptr_t, ZebValue* args, int32_t count);
    int32_t kextra(void*, intptr_t, intptr_t, ZebValue* args, int32_t count);
    int32_t ksendtext(void*, intptr_t, intptr_t, ZebValue* args, int32_t count);
    int32_t ksendfile(void*, intptr_t, intptr_t, ZebValue* args, int32_t count);
    int32_t kgetmail(void*, intptr_t, intptr_t, ZebValue* args, int32_t count);
    int32_t kmanageimap4(void*, intptr_t, intptr_t, ZebValue* args, int32_t count);
    int32_t kstatusinfo(void*, intptr_t, intptr_t, ZebValue* args, int32_t count);
    int32_t kdeletepop3(void*, intptr_t, intptr_t, ZebValue* args, int32_t count);

    // Settings, each already in the form of an engine argument.
    string host, from, replyto, user, pass, port;
    int security = 0;  // 0 none, 1 ssl, 2 tls
    string to, cc, bcc;
    string remembered_message;
    int remembered = 0;
    int init_done = 0;
    int destinations_done = 0;

    // What runs an engine job (tests put a recorder here).
    EngineEntry engine_entry;

private:
    using Vector = std::vector<string>;
    int32_t run(Vector& vector);
    void add_account(Vector& vector) const;
    void add_security(Vector& vector, bool receiving) const;
    int32_t send_message(CExtParam& subject, CExtParam& body, CExtParam& attachments, CExtParam& flags, int mode,
                         int32_t& error_id);
    int32_t return_report();
    // ksendtext (mode 0, a text body) and ksendfile (mode 1, a body file).
    int32_t send_function(ZebValue* args, int32_t count, int mode);
    template <typename Body>
    int32_t guarded(Body body);
};

// The one extender object of the loaded library.
CZebTavrin& zeb_tavrin();

// The next token of a list separated by '|' or tabs; position becomes -1
// when none is left.
string tokenize(const char* text, long& position);
// The tokens joined with commas.
string joined_list(const char* text);

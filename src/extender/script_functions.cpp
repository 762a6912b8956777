// The ten script functions: they check their arguments, keep settings, and
// turn mail work into engine argument vectors.
#include <cstring>
#include <new>
#include <string>

#include "base/text_stream.h"
#include "engine/option_state.h"
#include "extender/zeb_tavrin.h"
#include "net/ssl_sock.h"
#include "platform/nocase.h"
#include "platform/system_errors.h"

namespace {

bool has_flag(const char* flags, char f) { return std::strchr(flags, f) != nullptr; }

// option + text when the text is not empty, else empty.
string prefixed(const char* option, const char* text) { return *text ? string(option) + text : string(); }

// The first failing check of arguments 1 .. checked, each (0, 256) with its id.
int first_failed_check(ZebValue* args, int32_t count, const int* ids, int checked)
{
    for (int n = 1; n <= checked; ++n) {
        CExtParam p(args, n, count);
        if (!p.check_text(0, 256, ids[n - 1])) return p.error_id;
    }
    return 0;
}

const int length_ids[] = {341, 15342, 15343, 15344, 15345};

}  // namespace

template <typename Body>
int32_t CZebTavrin::guarded(Body body)
{
    try {
        return body();
    } catch (...) {
        // Whatever failed inside is reported to the host, never thrown to it.
        unsigned long code = last_system_error();
        try {
            string detail;
            int32_t id = system_error_id(11004, code, detail);
            return report_system_error(-3, id, detail);
        } catch (...) {
            return report_system_error(-3, 11006, string());
        }
    }
}

int32_t CZebTavrin::run(Vector& vector)
{
    std::vector<const char*> argv;
    argv.reserve(vector.size() + 1);
    for (const string& s : vector) argv.push_back(s.c_str());
    argv.push_back(nullptr);
    return engine_entry(static_cast<int>(vector.size()), argv.data());
}

void CZebTavrin::add_account(Vector& vector) const
{
    vector.push_back(host);
    for (const string* s : {&user, &pass, &port})
        if (!s->empty()) vector.push_back(*s);
}

void CZebTavrin::add_security(Vector& vector, bool receiving) const
{
    if (security == 1) {
        vector.push_back("-ssl");
    } else if (security == 2) {
        if (receiving) vector.push_back("-ssl");
        vector.push_back("-tls");
    }
}

int32_t CZebTavrin::return_report()
{
    const std::string& report = report_stream.contents();
    const std::string& errors = error_stream.contents();
    size_t total = report.size() + errors.size() + 1;
    char* text = result_buffer(static_cast<int32_t>(total < 2048 ? 2048 : total), false);
    std::memcpy(text, report.data(), report.size());
    std::memcpy(text + report.size(), errors.data(), errors.size());
    text[total - 1] = 0;
    return return_text(text);
}

int32_t CZebTavrin::kverinfo(void*, intptr_t, intptr_t, ZebValue* args, int32_t count)
{
    return guarded([&] {
        CExtParam request(args, 1, count);
        int32_t v = request.get_integer();
        if (request.error_id) return return_error(-1, 15311);
        if (v == 0) {
            read_version();
            return return_integer(version);
        }
        if (v == 1 || v == 2) {
            int32_t kind = v == 1 ? 2 : 3, n = 0;
            for (ZebFunctionEntry* e = function_table(); e->info.index != -1; ++e)
                if (e->info.kind == kind) ++n;
            return return_integer(n);
        }
        char* text = result_buffer(2048, false);
        message_text(v, text, 2048);
        return return_text(text);
    });
}

int32_t CZebTavrin::kinit(void*, intptr_t, intptr_t, ZebValue* args, int32_t count)
{
    return guarded([&] {
        if (int id = first_failed_check(args, count, length_ids, 5)) return return_error(-1, id);
        init_done = 0;
        CExtParam a_host(args, 1, count), a_sender(args, 2, count), a_user(args, 3, count);
        CExtParam a_pass(args, 4, count), a_port(args, 5, count);
        host = prefixed("-host:", a_host.text_or_empty());
        user = prefixed("-user:", a_user.text_or_empty());
        pass = prefixed("-pass:", a_pass.text_or_empty());
        port = prefixed("-port:", a_port.text_or_empty());
        long position = 0;
        string sender = tokenize(a_sender.text_or_empty(), position);
        string reply = tokenize(a_sender.text_or_empty(), position);
        from = prefixed("-from:", sender.c_str());
        replyto = prefixed("-replyto:", reply.c_str());

        CExtParam a_security(args, 6, count);
        security = 0;
        if (a_security.flags & CExtParam::present) {
            const char* s = a_security.text_or_empty();
            if (nocase_compare(s, "tls") == 0) security = 2;
            else if (nocase_compare(s, "ssl") == 0) security = 1;
            else if (*s) return return_error(-1, 15147);
        }
        release_tls_context();
        clear_report();
        init_done = 1;
        return return_status(1);
    });
}

int32_t CZebTavrin::kdest(void*, intptr_t, intptr_t, ZebValue* args, int32_t count)
{
    return guarded([&] {
        CExtParam a_to(args, 1, count);
        if (!a_to.check_text(1, 2147483647, 341)) return return_error(-1, a_to.is_text() ? 15351 : 15331);
        destinations_done = 0;
        to = string("-to:") + joined_list(a_to.text);
        CExtParam a_cc(args, 2, count), a_bcc(args, 3, count);
        cc = *a_cc.text_or_empty() ? string("-cc:") + joined_list(a_cc.text) : string();
        bcc = *a_bcc.text_or_empty() ? string("-bcc:") + joined_list(a_bcc.text) : string();
        destinations_done = 1;
        clear_report();
        return return_status(1);
    });
}

int32_t CZebTavrin::kextra(void*, intptr_t, intptr_t, ZebValue* args, int32_t count)
{
    return guarded([&] {
        if (int id = first_failed_check(args, count, length_ids, 3)) return return_error(-1, id);
        ProcessState& process = process_state();
        CExtParam a_charset(args, 1, count), a_binary(args, 2, count), a_greeting(args, 3, count);
        auto setting = [](const char* text) { return std::strcmp(text, "0") == 0 ? string() : string(text); };
        process.kextra_charset = setting(a_charset.text_or_empty());
        process.kextra_binary = 0;
        if (*a_binary.text_or_empty()) {
            int32_t v = a_binary.get_integer();
            if (a_binary.error_id) return return_error(-1, 15312);
            process.kextra_binary = v > 0 ? 1 : 0;
        }
        process.kextra_greeting = setting(a_greeting.text_or_empty());
        clear_report();
        return return_status(1);
    });
}

int32_t CZebTavrin::send_message(CExtParam& subject, CExtParam& body, CExtParam& attachments, CExtParam& flags_arg,
                                 int mode, int32_t& error_id)
{
    error_id = 0;
    if (!init_done || !destinations_done) {
        error_id = 15123;
        return 0;
    }
    const char* flags = flags_arg.text_or_empty();
    Vector v{"tavrin.exe", host};
    if (has_flag(flags, 'n')) v.push_back("-news");
    if (has_flag(flags, 'e')) {
        if (user.empty()) {
            error_id = 15144;
            return 0;
        }
        v.push_back(user);
        if (!pass.empty()) v.push_back(pass);
    }
    if (!port.empty()) v.push_back(port);
    v.push_back(to.empty() ? string("-to:") : to);
    v.push_back(from.empty() ? string("-from:") : from);
    for (const string* s : {&replyto, &cc, &bcc})
        if (!s->empty()) v.push_back(*s);
    v.push_back(string("-s:") + subject.text_or_empty());
    v.push_back(string(mode == 1 ? "-file:" : "-msg:") + body.text_or_empty());
    long position = 0;
    for (;;) {
        string token = tokenize(attachments.text_or_empty(), position);
        if (position < 0) break;
        v.push_back(string("-a:") + token);
    }
    struct FlagOption {
        char flag;
        const char* option;
    };
    static const FlagOption before_priority[] = {
        {'h', "-html"}, {'a', "-alt"}, {'u', "-uue"}, {'m', "-mdn"}, {'d', "-dsn"}};
    for (const FlagOption& f : before_priority)
        if (has_flag(flags, f.flag)) v.push_back(f.option);
    v.push_back(has_flag(flags, '1') ? "-high" : has_flag(flags, '2') ? "-low" : "-normal");
    if (has_flag(flags, 'e')) v.push_back("-esmtp");
    if (has_flag(flags, 'c')) v.push_back("-crammd5");
    add_security(v, false);
    return run(v) == 0 ? 1 : 0;
}

int32_t CZebTavrin::send_function(ZebValue* args, int32_t count, int mode)
{
    return guarded([&] {
        CExtParam subject(args, 1, count), body(args, 2, count);
        CExtParam attachments(args, 3, count), flags(args, 4, count);
        int32_t error_id;
        int32_t result = send_message(subject, body, attachments, flags, mode, error_id);
        return error_id ? return_error(-1, error_id) : return_status(result);
    });
}

int32_t CZebTavrin::ksendtext(void*, intptr_t, intptr_t, ZebValue* args, int32_t count)
{
    return send_function(args, count, 0);
}

int32_t CZebTavrin::ksendfile(void*, intptr_t, intptr_t, ZebValue* args, int32_t count)
{
    return send_function(args, count, 1);
}

int32_t CZebTavrin::kgetmail(void*, intptr_t, intptr_t, ZebValue* args, int32_t count)
{
    return guarded([&] {
        if (int id = first_failed_check(args, count, length_ids, 5)) return return_error(-1, id);
        if (!init_done) return return_error(-1, 15123);
        CExtParam a_message(args, 1, count), a_file(args, 2, count), a_pattern(args, 3, count);
        CExtParam a_mailbox(args, 4, count), a_flags(args, 5, count);
        const char* message = a_message.text_or_empty();
        const char* flags = a_flags.text_or_empty();
        Vector v{"tavrin.exe"};
        add_account(v);
        if (*message) v.push_back(string("-msg:") + message);
        if (*a_file.text_or_empty()) v.push_back(string("-file:") + a_file.text);
        v.push_back("-extract:");

        const char* pattern = a_pattern.text_or_empty();
        if (*pattern) {
            long position = 0;
            string token = tokenize(pattern, position);
            bool one_leading_separator = (pattern[0] == '|' || pattern[0] == '\t') && pattern[1] != '|' &&
                                         pattern[1] != '\t';
            if (one_leading_separator) {
                if (token.empty()) return return_error(-1, 15140);
                v.push_back(string("-nopat:") + token);
            } else if (token == pattern) {
                v.push_back(string("-pat:") + pattern);
            } else {
                return return_error(-1, std::strlen(pattern) == token.length() + 1 ? 15140 : 15139);
            }
        }
        if (has_flag(flags, '4')) {
            v.push_back("-imap");
            if (*a_mailbox.text_or_empty()) v.push_back(string("-mbox:") + a_mailbox.text);
        }
        if (has_flag(flags, 'd')) {
            v.push_back("-rm");
            remembered_message = message;
            remembered = 1;
        } else {
            remembered = 0;
        }
        struct FlagOption {
            char flag;
            const char* option;
        };
        static const FlagOption receive_flags[] = {{'h', "-br"},   {'f', "-full"}, {'c', "-receipt"},
                                                   {'t', "-text"}, {'g', "-dh"},   {'r', "-raw"}};
        for (const FlagOption& f : receive_flags)
            if (has_flag(flags, f.flag)) v.push_back(f.option);
        add_security(v, true);
        run(v);
        return return_report();
    });
}

int32_t CZebTavrin::kmanageimap4(void*, intptr_t, intptr_t, ZebValue* args, int32_t count)
{
    return guarded([&] {
        CExtParam a_verb(args, 1, count), a_mailbox(args, 2, count);
        if (!a_verb.check_text(0, 6, 341)) return return_error(-1, a_verb.error_id);
        if (!a_mailbox.check_text(0, 256, 15342)) return return_error(-1, a_mailbox.error_id);
        if (!init_done) return return_error(-1, 15123);
        const char* mailbox = a_mailbox.text;
        Vector v{"tavrin.exe"};
        add_account(v);
        v.push_back("-imap");
        if (*mailbox) v.push_back(string("-mbox:") + mailbox);
        if (remembered == 1) v.push_back(string("-msg:") + remembered_message);
        const char* verb = a_verb.text;
        if (nocase_compare(verb, "create") == 0) v.push_back(string("-create:") + mailbox);
        else if (nocase_compare(verb, "delete") == 0) v.push_back(string("-delete:") + mailbox);
        else if (nocase_compare(verb, "purge") == 0) v.push_back("-purge");
        add_security(v, true);
        return return_status(run(v) == 0 ? 1 : 0);
    });
}

int32_t CZebTavrin::kstatusinfo(void*, intptr_t, intptr_t, ZebValue*, int32_t)
{
    return guarded([&] { return return_report(); });
}

int32_t CZebTavrin::kdeletepop3(void*, intptr_t, intptr_t, ZebValue* args, int32_t count)
{
    return guarded([&] {
        CExtParam a_message(args, 1, count);
        if (!a_message.check_text(0, 256, 341)) return return_error(-1, a_message.error_id);
        if (!init_done) return return_error(-1, 15123);
        Vector v{"tavrin.exe"};
        add_account(v);
        if (*a_message.text) v.push_back(string("-msg:") + a_message.text);
        v.push_back("-rm");
        add_security(v, true);
        return return_status(run(v) == 0 ? 1 : 0);
    });
}

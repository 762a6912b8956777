#include "engine/failure_report.h"

#include <cctype>
#include <cstring>

#include "base/text_utils.h"
#include "engine/list_file.h"
#include "platform/nocase.h"

namespace {

constexpr size_t max_recipient = 1023;

const char* const report_subjects[] = {"Returned mail", "Undeliverable"};
const char* const report_senders[] = {"Mail delivery"};
const char* const report_sender_marks[] = {"MAILER-DAEMON"};

bool begins_with(const string& text, const char* prefix)
{
    return nocase_compare_n(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

const char* skip_space(const char* p)
{
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    return p;
}

const char* skip_blanks(const char* p)
{
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

}  // namespace

bool is_failure_report(const string& subject, const string& sender)
{
    for (const char* s : report_subjects)
        if (begins_with(subject, s)) return true;
    for (const char* s : report_senders)
        if (begins_with(sender, s)) return true;
    for (const char* s : report_sender_marks)
        if (find_nocase(sender.c_str(), s)) return true;
    return false;
}

FailureReport read_failure_report(const char* text)
{
    FailureReport report;
    if (!text) return report;
    const char* action = find_nocase(text, "Action:");
    if (!action) return report;
    report.has_action = true;
    const char* value = skip_space(action + std::strlen("Action:"));
    report.failed = nocase_compare_n(value, "failed", 6) == 0;
    const char* label = find_nocase(text, "Final-Recipient:");
    if (!label) return report;
    const char* p = skip_blanks(label + std::strlen("Final-Recipient:"));
    if (nocase_compare_n(p, "RFC822;", 7) == 0) p = skip_blanks(p + 7);
    size_t n = std::strcspn(p, "\r\n");
    report.recipient = entry_address(std::string(p, n < max_recipient ? n : max_recipient));
    return report;
}

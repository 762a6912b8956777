#include "engine/labels.h"

#include <cstdio>
#include <cstring>

#include "base/text_utils.h"
#include "platform/nocase.h"

namespace {

struct LabelRow {
    const char* key;
    const char* default_text;
};

const LabelRow label_rows[] = {
    {"STRING_Size", "Size"},
    {"STRING_Folder", "<== Folder"},
    {"STRING_Moveto", "Move to ==>"},
    {"STRING_Delete", "Delete"},
    {"STRING_UnDelete", "Undelete"},
    {"STRING_Forward", "Forward..."},
    {"STRING_Reply", "Reply..."},
    {"STRING_Newsgroup", "Newsgroup?"},
    {"STRING_Trace", "Trace?"},
    {"STRING_Send", "Send"},
    {"STRING_View", "View..."},
    {"STRING_Create", "Create ==>"},
    {"STRING_Compose", "Compose..."},
    {"STRING_Purge", "Purge"},
    {"STRING_Logout", "Logout"},
    {"STRING_Date", "Date"},
    {"STRING_From", "From"},
    {"STRING_Replyto", "Reply-To"},
    {"STRING_Bcc", "Bcc"},
    {"STRING_Cc", "Cc"},
    {"STRING_To", "To"},
    {"STRING_Importance", "Importance"},
    {"STRING_Sensitivity", "Sensitivity"},
    {"STRING_Organization", "Organization"},
    {"STRING_ReceiptTo", "Disposition-Notification-To"},
    {"STRING_Subject", "Subject"},
    {"STRING_Wrote", "Wrote:"},
    {"STRING_Thereare", "There are"},
    {"STRING_Messageswaiting", "messages waiting"},
    {"STRING_Deletemessage", "Deleted message #"},
    {"STRING_UnDeletemessage", "Undeleted message #"},
    {"STRING_Inlineattachment", "Inline attachment?"},
    {"Message-Id", "Message-Id"},
    {"Mime-Version", "Mime-Version"},
    {"Content-Type", "Content-Type"},
};

constexpr size_t label_count = sizeof label_rows / sizeof label_rows[0];
constexpr size_t fixed_labels = 3;  // the last three rows cannot be replaced

string* values()
{
    static string texts[label_count];
    static bool ready = false;
    if (!ready) {
        ready = true;
        for (size_t i = 0; i < label_count; ++i) texts[i] = label_rows[i].default_text;
    }
    return texts;
}

}  // namespace

const string& label(const char* key)
{
    static const string none;
    for (size_t i = 0; i < label_count; ++i)
        if (std::strcmp(label_rows[i].key, key) == 0) return values()[i];
    return none;
}

void read_label(const char* line)
{
    if (!line) return;
    size_t best = label_count, best_length = 0;
    for (size_t i = 0; i + fixed_labels < label_count; ++i) {
        size_t n = std::strlen(label_rows[i].key);
        if (n > best_length && nocase_compare_n(line, label_rows[i].key, n) == 0) {
            best = i;
            best_length = n;
        }
    }
    if (best == label_count) return;
    char text[256] = "";
    std::sscanf(line, "%*s %255[^\r\n]", text);
    values()[best] = text;
}

void reset_labels()
{
    for (size_t i = 0; i < label_count; ++i) values()[i] = label_rows[i].default_text;
}

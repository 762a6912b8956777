// The composer's settings and attachment lists, the recipient lines and the
// header block; the MIME body is in mime_writer.cpp.
#include "send/message_composer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/header_words.h"
#include "base/heap_text.h"
#include "platform/paths.h"
#include "platform/time_zone.h"
#include "send/header_folding.h"

namespace {

void remove_listed_files(ListOf& list)
{
    ListOfIterator it(list);
    void* path;
    for (int more = it.first(path); more; more = it.next(path)) remove_file(static_cast<char*>(path));
}

const char* or_empty(const char* text) { return text ? text : ""; }

}  // namespace

MessageComposer::~MessageComposer() { clear_attachments(0); }

void MessageComposer::set_content_type(const string& type)
{
    if (!type.empty()) content_type = without_line_ends(type.c_str()).c_str();
}

void MessageComposer::set_charset(const string& name)
{
    if (!name.empty()) charset = without_line_ends(name.c_str()).c_str();
}

void MessageComposer::set_organization(const string& text)
{
    if (!text.empty()) organization = text;
}

void MessageComposer::set_sensitivity(const string& text)
{
    if (!text.empty()) sensitivity = text;
}

bool MessageComposer::add_attachment(const char* path, const char* location, int related)
{
    if (!path || !file_exists(path) || is_folder(path)) return false;
    ListOf& files = related ? related_files : attachment_files;
    ListOf& locations = related ? related_locations : attachment_locations;
    files.add(copy_text(to_platform_separators(string(path)).c_str()));
    locations.add(copy_text(location));
    return true;
}

void MessageComposer::clear_attachments(int delete_files)
{
    if (delete_files) {
        remove_listed_files(attachment_files);
        remove_listed_files(related_files);
    }
    free_texts(attachment_files);
    free_texts(attachment_locations);
    free_texts(related_files);
    free_texts(related_locations);
}

void MessageComposer::begin_message(const char* id_domain)
{
    date_ = date_text.empty() ? message_date(date_style, time_zone_bias()) : date_text;
    boundary_mixed_ = make_boundary();
    boundary_alt_ = make_boundary();
    boundary_related_ = make_boundary();
    char id[128];
    std::snprintf(id, sizeof id, "Message-ID: %lu.%lu@", static_cast<unsigned long>(time(nullptr)),
                  static_cast<unsigned long>(clock()));
    id_line_ = std::string(id) + without_line_ends(or_empty(id_domain));
}

int MessageComposer::line(const char* pattern, ...)
{
    char small[512];
    va_list args;
    va_start(args, pattern);
    int n = std::vsnprintf(small, sizeof small, pattern, args);
    va_end(args);
    if (n < 0) return -1;
    std::string text;
    if (static_cast<size_t>(n) < sizeof small) {
        text.assign(small, static_cast<size_t>(n));
    } else {
        text.resize(static_cast<size_t>(n) + 1);
        va_start(args, pattern);
        std::vsnprintf(&text[0], text.size(), pattern, args);
        va_end(args);
        text.resize(static_cast<size_t>(n));
    }
    if (trace_level && echo_stream) echo_stream->write(text.data(), text.size());
    out_->write(text);
    return result();
}

int MessageComposer::header_line(const std::string& text_in)
{
    std::string text = without_line_ends(text_in), folded;
    if (!fold_header_line(text, folded)) {
        size_t colon = text.find(':');
        error_ = "header line cannot be folded to " + std::to_string(max_header_line) + " bytes: " +
                 text.substr(0, colon == std::string::npos || colon > 64 ? 64 : colon);
        return -1;
    }
    if (trace_level && echo_stream) echo_stream->write(folded.data(), folded.size());
    out_->write(folded);
    return result();
}

int MessageComposer::header(const char* name, const char* value, bool address_mode)
{
    return header_line(std::string(name) + ": " + header_value(value, address_mode).c_str());
}

string MessageComposer::header_value(const char* value, bool address_mode) const
{
    return encode_header_text(charset.c_str(), encode_headers != 0, value, address_mode);
}

void MessageComposer::report_progress()
{
    if (total_size != 0 && listener) listener->progress(static_cast<int>(progress_count * 100 / total_size));
}

int MessageComposer::write_recipient_lines(const char* to, const char* cc)
{
    std::string groups;  // the news form: every entry on one line
    struct Field {
        const char* text;
        const char* first;
        bool hidden;
    } fields[] = {{to, "To", hide && std::strchr(to, ',')}, {cc, "Cc", false}};
    for (const Field& f : fields) {
        bool first = true;
        const char* p = f.text;
        while (p && *p) {
            // The entry runs to the next comma outside a leading quoted part.
            const char* scan = p;
            while (*scan == ' ') ++scan;
            if (*scan == '"') {
                const char* close_quote = std::strchr(scan + 1, '"');
                scan = close_quote ? close_quote + 1 : scan + std::strlen(scan);
            }
            const char* comma = std::strchr(scan, ',');
            const char* end = comma ? comma : p + std::strlen(p);
            std::string entry(p, static_cast<size_t>(end - p));
            p = comma ? comma + 1 : end;
            if (entry.empty() || entry[0] == '\\') continue;
            size_t skip = entry.find_first_not_of(" !");
            entry = skip == std::string::npos ? "" : entry.substr(skip);
            if (news) {
                if (!groups.empty()) groups += ",";
                groups += entry;
                continue;
            }
            if (f.hidden) continue;
            const char* more = (comma && *p) ? "," : "";
            std::string value = header_value(entry.c_str(), true).c_str();
            int r = header_line(first ? std::string(f.first) + ": " + value + more : "\t" + value + more);
            if (r <= 0) return r;
            first = false;
        }
    }
    if (news && !groups.empty()) return header_line("Newsgroups: " + groups);
    return 1;
}

int MessageComposer::write_recipient_lists(const Envelope& e)
{
    std::string groups;
    struct Field {
        const List<string>* list;
        const char* name;
    } fields[] = {{&e.to_list, "To"}, {&e.cc_list, "Cc"}};
    for (const Field& f : fields) {
        ListIterator<string> it(const_cast<List<string>&>(*f.list));
        string entry;
        for (int more = it.first(entry); more; more = it.next(entry)) {
            if (news) {
                groups += (groups.empty() ? "" : ",") + std::string(entry.c_str());
                continue;
            }
            int r = header(f.name, entry.c_str(), true);
            if (r <= 0) return r;
        }
    }
    if (news && !groups.empty()) return header_line("Newsgroups: " + groups);
    return 1;
}

int MessageComposer::write_message(const Envelope& e, bool lists, const char* body_bytes_in, size_t length,
                                   ByteSink& out, bool sink_stuffs)
{
    out_ = &out;
    sink_stuffs_ = sink_stuffs;
    error_.clear();
    body_bytes = progress_count = 0;
    total_size = length;
    multipart_ = false;
    if (date_.empty()) begin_message("");
    if (total_size && listener) listener->progress(0);
    if (eight_bit) qp = 0;
    int r = write_header_block(e, lists);
    if (r <= 0) return r;
    return write_body(body_bytes_in, length, e.content_base.c_str());
}

int MessageComposer::check_headers(const Envelope& e, bool lists)
{
    CountingSink nowhere;
    ByteSink* saved_out = out_;
    int saved_trace = trace_level;
    out_ = &nowhere;
    trace_level = 0;
    error_.clear();
    if (date_.empty()) begin_message("");
    int r = write_header_block(e, lists);
    // The one content header that carries a value of the caller's.
    if (r > 0 && !raw && mime && !uue && html && !e.content_base.empty())
        r = header_line(std::string("Content-Base: ") + e.content_base.c_str());
    out_ = saved_out;
    trace_level = saved_trace;
    return r;
}

int MessageComposer::write_header_block(const Envelope& e, bool lists)
{
    bool bulk = lists ? e.bcc_list.count() > 0 : !e.bcc.empty();
    int r;
    if (bulk && (r = line("Precedence: bulk\r\n")) <= 0) return r;
    if (!raw) {
        r = lists ? write_recipient_lists(e) : write_recipient_lines(e.to.c_str(), e.cc.c_str());
        if (r <= 0) return r;
    }
    return write_headers(e);
}

// The "-hdr:" text as it is, one or more header lines, but each ended with
// CR LF and no empty line among them: an empty line would end the header.
int MessageComposer::write_extra_header()
{
    std::string text(extra_header.c_str(), extra_header.length()), lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        if (end > at) lines += text.substr(at, end - at) + "\r\n";
        at = end + 1;
    }
    if (lines.empty()) return 1;
    if (trace_level && echo_stream) echo_stream->write(lines.data(), lines.size());
    out_->write(lines);
    return result();
}

int MessageComposer::write_headers(const Envelope& e)
{
    if (raw) return 1;
    struct Line {
        const char* name;
        const char* value;
        bool address_mode;
    };
    const char* from = e.from.c_str();
    const char* reply_to = e.reply_to.c_str();
    const char* receipt_to = *reply_to ? reply_to : from;
    static const char* const priority_names[] = {"", "High", "Low", "Normal"};
    static const int priority_numbers[] = {0, 2, 4, 3};
    int p = priority >= 1 && priority <= 3 ? priority : 0;

    const Line before_mime[] = {
        {"From", from, true},
        {"Reply-To", reply_to, true},
        {"Originator", reply_to, true},
        {"Sender", reply_to, true},
        {"Errors-To", e.errors_to.c_str(), true},
        {"Subject", e.subject.c_str(), false},
        {"Organization", organization.c_str(), false},
        {"Sensitivity", sensitivity.c_str(), false},
    };
    int r;
    for (const Line& l : before_mime) {
        if (!*l.value) continue;
        if ((r = header(l.name, l.value, l.address_mode)) <= 0) return r;
    }
    if (mime && (r = line(vpim ? "MIME-Version: 1.0 (Voice 2.0)\r\n" : "MIME-Version: 1.0\r\n")) <= 0) return r;
    if (no_archive && (r = line("X-no-archive: yes\r\n")) <= 0) return r;
    if (message_id && (r = line("%s\r\n", id_line_.c_str())) <= 0) return r;
    // The extra header replaces the X-Mailer line; a text without a line end
    // gets one, or the next header line would run on in it.
    if (!extra_header.empty()) {
        r = write_extra_header();
    } else {
        r = line("X-Mailer: TAVRIN (%s %s)\r\n", __DATE__, __TIME__);
    }
    if (r <= 0) return r;
    if (p && (r = line("X-Priority: %d (%s)\r\n", priority_numbers[p], priority_names[p])) <= 0) return r;
    const Line receipts[] = {
        {"Return-Receipt-To", return_receipt ? receipt_to : "", true},
        {"Disposition-Notification-To", disposition_notification ? receipt_to : "", true},
    };
    for (const Line& l : receipts) {
        if (!*l.value) continue;
        if ((r = header(l.name, l.value, true)) <= 0) return r;
    }
    if (p && (r = line("Importance: %s\r\n", priority_names[p])) <= 0) return r;
    return header_line(std::string("Date: ") + date_.c_str());
}

#include "engine/message_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/text_stream.h"
#include "base/text_utils.h"
#include "engine/external_commands.h"
#include "engine/labels.h"
#include "engine/option_state.h"
#include "platform/nocase.h"

namespace {

// CR LF pairs to LF.
std::string lf_lines(const char* data, size_t length)
{
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        if (data[i] == '\r' && i + 1 < length && data[i + 1] == '\n') continue;
        out += data[i];
    }
    return out;
}

bool is_text_type(const string& type)
{
    return nocase_compare_n(type.c_str(), "text", 4) == 0 || nocase_compare(type.c_str(), "message/rfc822") == 0;
}

// Where the body goes: the output file, or the report stream. A failed
// write is remembered; the file's own close is checked too.
class Output {
public:
    explicit Output(FILE* file) : file_(file) {}
    void write(const char* data, size_t length)
    {
        if (!file_) return report_stream.write(data, length);
        if (length && !failed_ && std::fwrite(data, 1, length, file_) != length) failed_ = true;
    }
    void write(const std::string& text) { write(text.data(), text.size()); }
    void write(const string& text) { write(text.c_str(), text.length()); }
    void write(const char* text) { write(text, std::strlen(text)); }
    bool to_file() const { return file_ != nullptr; }
    bool failed() const { return failed_; }

private:
    FILE* file_;
    bool failed_ = false;
};

// A text (the body, or a part without a name): decrypted when it is PGP
// armour, else with LF line ends when lf is set.
void write_text(Output& out, const char* data, size_t length, bool lf, ReportOutcome& outcome)
{
    if (pgp_applies(data, length)) {
        std::string text;
        if (!pgp_decrypt_text(data, length, text)) outcome.pgp_failed = true;
        return out.write(text);
    }
    if (lf) return out.write(lf_lines(data, length));
    out.write(data, length);
}

// A named part into the extract folder; PGP armour is decrypted into a
// file named like the part without ".asc". name becomes the name used.
bool store_part(string& name, const char* data, size_t length, const string& type, ReportOutcome& outcome)
{
    const OptionState& o = options();
    if (pgp_applies(data, length)) {
        std::string plain = name.c_str();
        if (plain.size() > 4 && nocase_compare(plain.c_str() + plain.size() - 4, ".asc") == 0) plain.resize(plain.size() - 4);
        name = plain.c_str();
        string path = unique_file_name(o.extract_path, name, o.unique != 0);
        if (!pgp_decrypt_file(data, length, path)) outcome.pgp_failed = true;
        return true;
    }
    return write_attachment_file(o.extract_path, name, data, length, o.text || is_text_type(type));
}

void write_parts(ReadMail& r, Output& out, ReportOutcome& outcome)
{
    const OptionState& o = options();
    while (const char* data = r.next_attachment()) {
        size_t size = static_cast<size_t>(r.body_length);
        string name = r.attachment_filename();
        string type = r.attachment_mime_type();
        if (out.to_file() && o.verbose > 0)
            report_stream << "Get Attachment '" << name << "' " << static_cast<long long>(size)
                          << " bytes of data, MIME-type = " << type << "\r\n";
        if (name.empty()) {
            if (!out.to_file()) out.write("\r\n");
            write_text(out, data, size, true, outcome);
            if (!out.to_file()) out.write("\r\n");
        } else if (o.attachments_wanted) {
            out.write("Attachment: ");
            if (!store_part(name, data, size, type, outcome)) outcome.stored = false;
            char sizes[48];
            std::snprintf(sizes, sizeof sizes, " (%llu bytes)", static_cast<unsigned long long>(size));
            out.write(name);
            out.write(sizes);
            if (!out.to_file()) out.write(" (" + std::string(type.c_str()) + ")");
            out.write("\r\n");
        }
        if (out.to_file()) out.write("\r\n");
    }
}

// "-br" and "-q" write no body, but the named parts asked for are still
// stored (a message whose parts could not be stored is not deleted).
ReportOutcome store_named_parts(ReadMail& r)
{
    const OptionState& o = options();
    ReportOutcome outcome;
    while (const char* data = r.next_attachment()) {
        string name = r.attachment_filename();
        if (name.empty() || !o.attachments_wanted) continue;
        size_t size = static_cast<size_t>(r.body_length);
        if (!store_part(name, data, size, r.attachment_mime_type(), outcome)) outcome.stored = false;
    }
    return outcome;
}

ReportOutcome append_to_file(ReadMail& r, OutputFile& file)
{
    const OptionState& o = options();
    ReportOutcome outcome;
    FILE* f = file.open(o.file);
    if (!f) {
        outcome.stored = false;
        return outcome;
    }
    Output out(f);
    size_t length = static_cast<size_t>(r.body_length);
    if (!o.sep.empty()) out.write(std::string(o.sep.c_str()) + "\r\n");
    if (o.raw || !o.relay_host.empty()) {
        out.write(r.text(), length);
    } else if (r.attachment_count() == 0) {
        write_text(out, r.text(), length, is_text_type(r.attachment_mime_type()), outcome);
    }
    out.write("\r\n\r\n");
    if (o.verbose > 0) report_stream << "Get body, length = " << static_cast<long long>(length) << " bytes\r\n";
    write_parts(r, out, outcome);
    // The message is on its way to the disk before anyone may delete it.
    if (!file.flush() || out.failed()) outcome.stored = false;
    return outcome;
}

ReportOutcome write_to_report(ReadMail& r)
{
    const OptionState& o = options();
    ReportOutcome outcome;
    Output out(nullptr);
    if (r.attachment_count() == 0) {
        size_t length = static_cast<size_t>(r.body_length);
        write_text(out, r.text(), length, o.raw || is_text_type(r.attachment_mime_type()), outcome);
    }
    out.write("\r\n\r\n");
    write_parts(r, out, outcome);
    out.write("\r\n");
    return outcome;
}

}  // namespace

void copy_message_fields(ReadMail& r)
{
    OptionState& o = options();
    o.to = r.to_or_unknown();
    o.from = r.sender();
    o.cc = r.cc_text();
    o.subject = r.subject_or_default();
    o.date = r.date_or_unknown();
    o.priority = r.priority;
    o.sens = r.sensitivity_text();
}

bool write_header_lines(ReadMail& r, int size, const std::function<bool()>& send_receipt)
{
    const OptionState& o = options();
    string sender = r.sender(), reply_to = r.reply_address();
    string message_id, mime_version, content_type;
    if (o.full) {
        message_id = r.take_header("Message-ID");
        mime_version = r.take_header("Mime-Version");
        content_type = r.take_header("Content-Type");
    }
    struct Line {
        const char* key;  // a label's key, or the fixed label itself
        string value;
        bool always;
    };
    report_stream << r.subject_or_default() << "\r\n";
    const Line before[] = {
        {"STRING_Date", r.date_or_unknown(), true},
        {"STRING_ReceiptTo", r.notification_address(), false},
    };
    const Line after[] = {
        {"STRING_Importance", string(r.priority_text()), false},
        {"STRING_Sensitivity", r.sensitivity_text(), false},
        {"STRING_Organization", o.org, false},
        {"STRING_From", sender, true},
        {"STRING_Replyto", reply_to == sender || o.web_mode ? string() : reply_to, false},
        {"STRING_To", r.to_or_unknown(), true},
        {"STRING_Cc", r.cc_text(), false},
        {"Message-Id", message_id, false},
        {"Mime-Version", mime_version, false},
        {"Content-Type", content_type, false},
    };
    auto write = [](const Line& l) {
        if (!l.always && l.value.empty()) return;
        bool fixed = std::strncmp(l.key, "STRING_", 7) != 0;
        report_stream << (fixed ? string(l.key) : label(l.key)) << ": " << l.value << "\r\n";
    };
    for (const Line& l : before) write(l);
    if (!send_receipt()) return false;
    for (const Line& l : after) write(l);
    if (o.size) report_stream << label("STRING_Size") << ": " << size << " bytes\r\n";
    return true;
}

FILE* OutputFile::open(const string& path)
{
    if (file_) return file_;
    path_ = path;
    file_ = std::fopen(path.c_str(), "ab");
    if (!file_) {
        error_stream << "Could not open output file: '" << path << "': " << std::strerror(errno) << "\r\n";
        return nullptr;
    }
    std::setvbuf(file_, nullptr, _IOFBF, 65536);
    return file_;
}

bool OutputFile::flush()
{
    if (!file_ || (std::fflush(file_) == 0 && !std::ferror(file_))) return true;
    error_stream << "Could not write output file: '" << path_ << "': " << std::strerror(errno) << "\r\n";
    std::clearerr(file_);
    return false;
}

bool OutputFile::close()
{
    if (!file_) return true;
    bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok) error_stream << "Could not write output file: '" << path_ << "': " << std::strerror(errno) << "\r\n";
    return ok;
}

ReportOutcome write_message_body(ReadMail& r, OutputFile& file)
{
    const OptionState& o = options();
    if (!o.file.empty()) return append_to_file(r, file);
    if (!o.relay_host.empty()) return ReportOutcome();
    if (o.brief || o.quiet) return r.extract_parts ? store_named_parts(r) : ReportOutcome();
    return write_to_report(r);
}

bool write_attachment_file(const string& directory, string& name, const char* data, size_t length, bool text)
{
    string path = unique_file_name(directory, name, options().unique != 0);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error_stream << "Could not create attachment file: '" << path << "': " << std::strerror(errno) << "\r\n";
        return false;
    }
    std::setvbuf(f, nullptr, _IONBF, 0);  // the part is in memory: one write
    std::string converted;
    if (text) {
        converted = lf_lines(data, length);
        data = converted.data();
        length = converted.size();
    }
    bool ok = (length == 0 || std::fwrite(data, 1, length, f) == length);
    ok = std::fclose(f) == 0 && ok;
    if (!ok) error_stream << "Could not write attachment file: '" << path << "': " << std::strerror(errno) << "\r\n";
    return ok;
}

// The receive driver as far as the file reader takes it: one message file
// (or the files of a folder) parsed, reported, written to an output file
// and its parts stored in the extract folder.
#include "engine/receive_driver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "base/text_stream.h"
#include "base/text_utils.h"
#include "engine/labels.h"
#include "engine/option_state.h"
#include "engine/run_state.h"
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

class Output {
public:
    explicit Output(FILE* file) : file_(file) {}
    void write(const char* data, size_t length)
    {
        if (file_) {
            if (length && std::fwrite(data, 1, length, file_) != length) failed_ = true;
        } else {
            report_stream.write(data, length);
        }
    }
    void write(const std::string& text) { write(text.data(), text.size()); }
    void write(const string& text) { write(text.c_str(), text.length()); }
    void write(const char* text) { write(text, std::strlen(text)); }
    bool failed() const { return failed_; }

private:
    FILE* file_;
    bool failed_ = false;
};

// The parts of the message just parsed: text parts into the output, named
// parts into files. False when a part could not be stored.
bool write_parts(ReadMail& r, Output& out, bool to_file)
{
    const OptionState& o = options();
    bool stored_all = true;
    while (const char* data = r.next_attachment()) {
        size_t size = static_cast<size_t>(r.body_length);
        string name = r.attachment_filename();
        string type = r.attachment_mime_type();
        if (o.verbose > 0)
            report_stream << "Get Attachment '" << name << "' " << static_cast<long long>(size)
                          << " bytes of data, MIME-type = " << type << "\r\n";
        if (name.empty()) {
            if (!to_file) out.write("\r\n");
            out.write(lf_lines(data, size));
            out.write("\r\n");
            continue;
        }
        if (!o.attachments_wanted) continue;
        out.write("Attachment: ");
        bool text = o.text || is_text_type(type);
        if (!write_attachment_file(o.extract_path, name, data, size, text)) stored_all = false;
        out.write(name);
        char sizes[64];
        std::snprintf(sizes, sizeof sizes, " (%llu bytes)", static_cast<unsigned long long>(size));
        out.write(sizes, std::strlen(sizes));
        if (!to_file) out.write(" (" + std::string(type.c_str()) + ")");
        out.write("\r\n");
        if (to_file) out.write("\r\n");
    }
    return stored_all;
}

void header_lines(ReadMail& r)
{
    const OptionState& o = options();
    struct Line {
        const char* key;
        string value;
    };
    string sender = r.sender();
    report_stream << r.subject_or_default() << "\r\n";
    const Line lines[] = {
        {"STRING_Date", r.date_or_unknown()},
        {"STRING_ReceiptTo", r.notification_address()},
        {"STRING_Importance", string(r.priority_text())},
        {"STRING_Sensitivity", r.sensitivity_text()},
        {"STRING_Organization", o.org},
        {"STRING_From", sender},
        {"STRING_Replyto", r.reply_address() == sender ? string() : r.reply_address()},
        {"STRING_To", r.to_or_unknown()},
        {"STRING_Cc", r.cc_text()},
    };
    for (const Line& l : lines) {
        bool always = std::strcmp(l.key, "STRING_Date") == 0 || std::strcmp(l.key, "STRING_From") == 0 ||
                      std::strcmp(l.key, "STRING_To") == 0;
        if (!always && l.value.empty()) continue;
        report_stream << label(l.key) << ": " << l.value << "\r\n";
    }
}

// One message, after it was retrieved; false when it could not be written.
bool report_message(ReadMail& r, int sequence)
{
    const OptionState& o = options();
    if (!o.raw && !o.quiet) report_stream << sequence << ". ";
    if (!o.sep.empty() && o.file.empty()) report_stream << o.sep << "\n";
    if (!o.raw && !o.quiet) header_lines(r);
    if (!o.brief && !o.raw && !o.quiet) report_stream << "\r\n";
    bool ok = true;
    if (!o.file.empty()) {
        FILE* f = std::fopen(o.file.c_str(), "ab");
        if (!f) {
            error_stream << "Could not open output file: '" << o.file << "' (" << std::strerror(errno) << ")\r\n";
            return false;
        }
        Output out(f);
        bool text_mode = is_text_type(r.attachment_mime_type()) && !o.raw;
        if (!o.sep.empty()) out.write(std::string(o.sep.c_str()) + "\r\n");
        if (o.raw || !o.relay_host.empty()) {
            out.write(r.text(), static_cast<size_t>(r.body_length));
        } else if (r.attachment_count() == 0) {
            out.write(text_mode ? lf_lines(r.text(), static_cast<size_t>(r.body_length))
                                : std::string(r.text(), static_cast<size_t>(r.body_length)));
        }
        out.write("\r\n\r\n");
        if (o.verbose > 0) report_stream << "Get body, length = " << static_cast<long long>(r.body_length) << " bytes\r\n";
        ok = write_parts(r, out, true);
        if (out.failed() || std::fclose(f) != 0) {
            error_stream << "Could not write output file: '" << o.file << "'\r\n";
            ok = false;
        }
    } else if (!o.brief && !o.quiet && o.relay_host.empty()) {
        Output out(nullptr);
        if (r.attachment_count() == 0) {
            std::string body(r.text(), static_cast<size_t>(r.body_length));
            out.write(o.raw || is_text_type(r.attachment_mime_type()) ? lf_lines(body.data(), body.size()) : body);
        }
        out.write("\r\n\r\n");
        ok = write_parts(r, out, false);
        out.write("\r\n");
    }
    if (!o.quiet) report_stream << "\r\n";
    return ok;
}

}  // namespace

bool write_attachment_file(const string& directory, string& name, const char* data, size_t length, bool text)
{
    string path = unique_file_name(directory, name, options().unique != 0);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error_stream << "Could not create attachment file: '" << path << "': " << std::strerror(errno) << "\r\n";
        return false;
    }
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

int receive_mail()
{
    OptionState& o = options();
    RunState& rs = run_state();
    ReadMail& r = rs.current_reader();
    const ReaderMode& mode = reader_mode(rs.reader_kind);
    string host = o.*mode.host;
    string port = rs.reader_kind == ReaderKind::file ? string() : o.*mode.port;
    r.timeout = process_state().timeout;
    int result = r.open_connection(host, port, nullptr, 0);
    if (result <= 0) {
        error_stream << "Could not connect to: " << host << ":" << port << ", error= " << result << "\r\n";
        return 1;
    }
    int count = r.get_message_count();
    if (!o.html && !o.raw && !o.rm && o.masq.empty() && !o.quiet)
        report_stream << label("STRING_Thereare") << " " << count << " " << label("STRING_Messageswaiting") << " ("
                      << static_cast<long long>(r.body_length) << " bytes)\r\n";
    r.decode_headers = o.dh;
    r.raw_mode = o.raw;
    r.prefer_html = o.html;
    r.extract_parts = o.extract && !o.raw ? 1 : 0;
    r.retrieve_mode = o.brief && o.relay_host.empty() ? 1 : 0;
    r.debug_level = o.verbose > 1 ? o.verbose : 0;
    int failed = 0, sequence = 0;
    for (int n = o.msg_number < 1 ? 1 : o.msg_number; n <= count && n <= o.first; ++n) {
        ++sequence;
        int got = r.retrieve(n);
        if (got < 1) {
            error_stream << "Could not retrieve message (" << n << "/" << n << "), error= " << got << "\r\n";
            r.disconnect();
            return 1;
        }
        if (!report_message(r, sequence)) failed = 1;
    }
    r.disconnect();
    return failed;
}

// Everything of a message after its header lines: content headers, the
// single-part or multipart body, attachment and related parts. Files are
// read and encoded piece by piece through the command buffer.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/base64.h"
#include "base/byte_sink.h"
#include "base/quoted_printable.h"
#include "base/text_utils.h"
#include "base/uucode.h"
#include "engine/text_stream.h"
#include "platform/nocase.h"
#include "platform/paths.h"
#include "send/html_to_text.h"
#include "send/tp_client.h"

namespace {

std::string qp_body(const char* data, size_t length)
{
    std::string out(qp_encoded_capacity(length), '\0');
    int column = 1;
    size_t consumed = 0;
    out.resize(qp_encode(column, data, length, false, false, &out[0], consumed));
    return out;
}

// CR LF pairs to LF, then every LF to CR LF.
std::string crlf_lines(const char* data, size_t length)
{
    std::string out;
    out.reserve(length + length / 16);
    for (size_t i = 0; i < length; ++i) {
        if (data[i] == '\r' && i + 1 < length && data[i + 1] == '\n') continue;
        if (data[i] == '\n') out.push_back('\r');
        out.push_back(data[i]);
    }
    return out;
}

const char* text_encoding_name(int qp, int eight_bit) { return qp ? "quoted-printable" : eight_bit ? "8bit" : "7bit"; }

}  // namespace

std::string TpClient::uu_lines(const std::string& text) const
{
    if (!dot_terminated()) return text;
    std::string out;
    out.reserve(text.size() + text.size() / 60 + 4);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

int TpClient::finish_message(const char* echo_text)
{
    data_sent = 1;
    if (no_terminator) return 1;
    int r = send_line(".\r\n");
    if (r <= 0) return r;
    if (trace_level) report_stream << echo_text << "\r\n";
    return read_reply();
}

int TpClient::write_body(const char* body, size_t length, const char* content_base)
{
    bool multipart = !raw && mime && ((html && alternative) || attachment_files.count() || related_files.count());
    if (!multipart) return write_single_part(body, length, content_base);
    int r = write_multipart_body(body, length);
    if (r <= 0) return r;
    if ((r = send_line("\r\n\r\n")) <= 0) return r;
    return finish_message("data sent1");
}

int TpClient::write_single_part(const char* body, size_t length, const char* content_base)
{
    int r;
    const char* base = content_base ? content_base : "";
    if (!raw && uue) {
        if ((r = send_line("Content-Type: text/plain; charset=us-ascii\r\n")) <= 0) return r;
        if ((r = send_line("Content-Transfer-Encoding: X-UUencode\r\n")) <= 0) return r;
    } else if (!raw && mime) {
        if (html && *base && (r = send_line("Content-Base: %s\r\n", base)) <= 0) return r;
        r = send_line("Content-Type: %s; charset=%s\r\n", html ? "text/html" : content_type.c_str(), charset.c_str());
        if (r <= 0) return r;
        const char* encoding = script_base64 ? "base64"
                               : html        ? (qp ? "quoted-printable" : "7bit")
                                             : text_encoding_name(qp, eight_bit);
        if ((r = send_line("Content-Transfer-Encoding: %s\r\n", encoding)) <= 0) return r;
    }
    if (length != 0) {
        if (!raw && (r = send_line("\r\n")) <= 0) return r;
        if (script_base64 && !raw) {
            r = send_body(base64_encode(body, length, 72));
        } else if (!raw && !uue && mime && qp) {
            r = send_body(qp_body(body, length));
        } else if (!raw && uue) {
            UuEncoder encoder(*base ? base : "noname.dat");
            encoder.dot_doubling = 1;
            encoder.encode(body, length);
            encoder.end();
            r = send_body(uu_lines(encoder.memory().bytes()));
        } else if (!raw) {
            bool at_line_start = true;
            r = send_dot_stuffed(body, length, at_line_start);
        } else {
            // Raw: the text as it is, but a line of "." must not end it early.
            bool at_line_start = true;
            r = dot_terminated() ? send_dot_stuffed(body, length, at_line_start) : send_body(body, length);
        }
        if (r <= 0) return r;
    }
    if ((r = send_line("\r\n")) <= 0) return r;
    report_progress();
    return finish_message("data sent2");
}

int TpClient::write_multipart_body(const char* body, size_t length)
{
    const int attachments = attachment_files.count(), related = related_files.count();
    for (ListOf* list : {&attachment_files, &related_files}) {
        ListOfIterator it(*list);
        void* path;
        for (int more = it.first(path); more; more = it.next(path)) {
            int64_t size = file_size(static_cast<char*>(path));
            if (size > 0) total_size += static_cast<uint64_t>(size);
        }
    }
    string mixed = make_boundary(), alt = make_boundary(), rel = make_boundary();
    int r;
    auto open_level = [&](const char* type, const string& boundary) {
        int s = send_line("Content-Type: %s; boundary=\"%s\"\r\n", type, boundary.c_str());
        if (s > 0) s = send_line("\r\n");
        if (s > 0) s = send_line("\r\n--%s\r\n", boundary.c_str());
        return s;
    };
    if (attachments && (r = open_level("multipart/mixed", mixed)) <= 0) return r;
    bool alternative_level = html && alternative;
    bool voice_level = !alternative_level && attachments && vpim;
    if (alternative_level && (r = open_level("multipart/alternative", alt)) <= 0) return r;
    if (voice_level && (r = open_level("multipart/voice-message", alt)) <= 0) return r;

    if (alternative_level) {
        if ((r = send_line("Content-Type: text/plain; charset=%s\r\n", charset.c_str())) <= 0) return r;
        if ((r = send_line("Content-Transfer-Encoding: %s\r\n", text_encoding_name(qp, eight_bit))) <= 0) return r;
        if ((r = send_line("\r\n")) <= 0) return r;
        string plain = alt_text.empty() ? html_to_text(body, length) : alt_text;
        total_size += plain.length();
        if (qp) {
            r = send_body(qp_body(plain.c_str(), plain.length()));
        } else {
            bool at_line_start = true;
            r = dot_terminated() ? send_dot_stuffed(plain.c_str(), plain.length(), at_line_start)
                                        : send_body(plain.c_str(), plain.length());
        }
        if (r <= 0) return r;
        if ((r = send_line("\r\n")) <= 0 || (r = send_line("\r\n--%s\r\n", alt.c_str())) <= 0) return r;
    }
    // Related parts go with an HTML body; without one they are plain
    // attachments of the mixed level (or of a mixed level of their own).
    bool related_level = html && related;
    if (related_level && (r = open_level("multipart/related", rel)) <= 0) return r;
    if (!html && related && !attachments && (r = open_level("multipart/mixed", mixed)) <= 0) return r;

    r = send_line("Content-Type: %s; charset=%s\r\n", html ? "text/html" : content_type.c_str(), charset.c_str());
    if (r <= 0) return r;
    const char* encoding = script_base64 ? "base64" : text_encoding_name(qp, eight_bit);
    if ((r = send_line("Content-Transfer-Encoding: %s\r\n", encoding)) <= 0) return r;
    if ((r = send_line("\r\n")) <= 0) return r;
    if (script_base64) {
        r = send_body(base64_encode(body, length, 72));
    } else if (qp) {
        r = send_body(qp_body(body, length));
    } else {
        bool at_line_start = true;
        r = dot_terminated() ? send_dot_stuffed(body, length, at_line_start) : send_body(body, length);
    }
    if (r <= 0) return r;
    if ((r = send_line("\r\n")) <= 0) return r;

    auto write_parts = [&](ListOf& files, ListOf& locations, const string& boundary) {
        ListOfIterator f(files), l(locations);
        void *path, *location;
        for (int more = f.first(path) && l.first(location); more; more = f.next(path) && l.next(location)) {
            int s = write_attachment_part(boundary.c_str(), static_cast<char*>(path), static_cast<char*>(location));
            if (s < 0) return s;
        }
        return 1;
    };
    if (related_level) {
        if ((r = write_parts(related_files, related_locations, rel)) <= 0) return r;
        if ((r = send_line("\r\n--%s--\r\n", rel.c_str())) <= 0 || (r = send_line("\r\n")) <= 0) return r;
    }
    if (alternative_level || voice_level) {
        if ((r = send_line("\r\n--%s--\r\n", alt.c_str())) <= 0 || (r = send_line("\r\n")) <= 0) return r;
    }
    if (attachments || (!html && related)) {
        if (!html && (r = write_parts(related_files, related_locations, mixed)) <= 0) return r;
        if ((r = write_parts(attachment_files, attachment_locations, mixed)) <= 0) return r;
        if ((r = send_line("\r\n--%s--", mixed.c_str())) <= 0) return r;
    }
    return 1;
}

int TpClient::write_attachment_part(const char* boundary, const char* path, const char* location)
{
    FILE* file = std::fopen(path, "rb");
    if (!file) return 0;
    std::unique_ptr<FILE, int (*)(FILE*)> closer(file, std::fclose);
    string base_name = file_part(path);
    MimeType type = mime_type_of(base_name.c_str(), binary != 0, text != 0);
    bool is_text = !type.binary && std::strncmp(type.type, "text/", 5) == 0;
    const char* loc = location ? location : "";
    int r;
    if ((r = send_line("\r\n--%s\r\n", boundary)) <= 0) return r;
    if (vpim && *loc) {
        if ((r = send_line("%s", loc)) <= 0) return r;
    } else {
        r = send_line("Content-Type: %s; name=\"%s\"%s\r\n", type.type, base_name.c_str(),
                      type.binary ? "; type=Binary" : "");
        if (r <= 0) return r;
        if (*loc) {
            r = nocase_compare_n(loc, "cid:", 4) == 0 ? send_line("Content-ID: <%s>\r\n", loc + 4)
                                                      : send_line("Content-Location: %s\r\n", loc);
            if (r <= 0) return r;
        }
        r = send_line("Content-Disposition: %s; filename=\"%s\"\r\n", (inline_parts || *loc) ? "inline" : "attachment",
                      base_name.c_str());
        if (r <= 0) return r;
    }
    // A text part with quoted-printable data says so, whatever else is set.
    bool text_qp = is_text && qp && mime;
    const char* encoding = !is_text   ? (uue ? "X-UUencode" : "base64")
                           : text_qp  ? "quoted-printable"
                           : eight_bit && mime ? "8bit"
                           : mime      ? "7bit"
                                       : nullptr;
    if (encoding && (r = send_line("Content-Transfer-Encoding: %s\r\n", encoding)) <= 0) return r;
    if ((r = send_line("\r\n")) <= 0) return r;

    size_t piece = static_cast<size_t>(command_size_ > 0 ? command_size_ : 4096);
    std::unique_ptr<char[]> data(new char[piece]);
    MemorySink encoded;
    auto flush = [&](bool all) {
        if (encoded.length() == 0 || (!all && encoded.length() < piece)) return 1;
        int s = uue && !is_text ? send_body(uu_lines(encoded.bytes())) : send_body(encoded.bytes().data(), encoded.length());
        encoded.clear();
        return s;
    };
    size_t n;
    if (is_text) {
        int column = 1;
        bool at_line_start = true;
        std::string coded;
        while ((n = std::fread(data.get(), 1, piece, file)) > 0) {
            std::string lines = crlf_lines(data.get(), n);
            if (text_qp) {
                coded.resize(qp_encoded_capacity(lines.size()));
                size_t consumed = 0;
                coded.resize(qp_encode(column, lines.data(), lines.size(), false, false, &coded[0], consumed));
                r = send_body(coded);
            } else {
                // Line ends are made CR LF here too: mail text has no bare LF.
                r = dot_terminated() ? send_dot_stuffed(lines.data(), lines.size(), at_line_start)
                                            : send_body(lines);
            }
            if (r <= 0) return r;
        }
    } else if (uue) {
        size_t uu_piece = piece / 45 * 45;
        if (uu_piece == 0) uu_piece = 45;
        UuEncoder encoder(base_name.c_str(), encoded);
        encoder.dot_doubling = 1;
        while ((n = std::fread(data.get(), 1, uu_piece < piece ? uu_piece : piece, file)) > 0) {
            encoder.encode(data.get(), n);
            if ((r = flush(false)) <= 0) return r;
        }
        encoder.end();
        if ((r = flush(true)) <= 0) return r;
    } else {
        Base64Encoder encoder(encoded, 72);
        while ((n = std::fread(data.get(), 1, piece, file)) > 0) {
            encoder.write(data.get(), n);
            if ((r = flush(false)) <= 0) return r;
        }
        encoder.finish();
        if ((r = flush(true)) <= 0) return r;
    }
    return 1;
}

// Everything of a message after its header lines: content headers, the
// single-part or multipart body, attachment and related parts. Files are
// read and encoded piece by piece, so memory does not grow with them.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/base64.h"
#include "base/byte_sink.h"
#include "base/crlf_lines.h"
#include "base/quoted_printable.h"
#include "base/text_utils.h"
#include "base/uucode.h"
#include "platform/nocase.h"
#include "platform/paths.h"
#include "send/dot_stuffing.h"
#include "send/header_folding.h"
#include "send/html_to_text.h"
#include "send/message_composer.h"

namespace {

std::string qp_body(const char* data, size_t length)
{
    std::string out(qp_encoded_capacity(length), '\0');
    int column = 1;
    size_t consumed = 0;
    out.resize(qp_encode(column, data, length, false, false, &out[0], consumed));
    return out;
}

const char* text_encoding_name(int qp, int eight_bit) { return qp ? "quoted-printable" : eight_bit ? "8bit" : "7bit"; }

}  // namespace

int MessageComposer::body(const char* data, size_t length, bool stuff, bool clean_lines)
{
    if (length == 0) return 1;
    if (stuff && !sink_stuffs_) {
        DotStuffingSink stuffed(*out_, false);
        stuffed.write(data, length);
    } else if (clean_lines) {
        out_->write_clean_lines(data, length);
    } else {
        out_->write(data, length);
    }
    body_bytes += length;
    progress_count += length;
    if (trace_level >= 3 && echo_stream) echo_stream->write(data, length);
    report_progress();
    return result();
}

int MessageComposer::write_body(const char* body_text, size_t length, const char* content_base)
{
    multipart_ = !raw && mime && ((html && alternative) || attachment_files.count() || related_files.count());
    if (!multipart_) return write_single_part(body_text, length, content_base);
    int r = write_multipart_body(body_text, length);
    if (r <= 0) return r;
    return line("\r\n\r\n");
}

int MessageComposer::write_single_part(const char* body_text, size_t length, const char* content_base)
{
    int r;
    const char* base = content_base ? content_base : "";
    if (!raw && uue) {
        if ((r = line("Content-Type: text/plain; charset=us-ascii\r\n")) <= 0) return r;
        if ((r = line("Content-Transfer-Encoding: X-UUencode\r\n")) <= 0) return r;
    } else if (!raw && mime) {
        if (html && *base && (r = header_line(std::string("Content-Base: ") + base)) <= 0) return r;
        r = line("Content-Type: %s; charset=%s\r\n", html ? "text/html" : content_type.c_str(), charset.c_str());
        if (r <= 0) return r;
        const char* encoding = script_base64 ? "base64"
                               : html        ? (qp ? "quoted-printable" : "7bit")
                                             : text_encoding_name(qp, eight_bit);
        if ((r = line("Content-Transfer-Encoding: %s\r\n", encoding)) <= 0) return r;
    }
    if (length != 0) {
        if (!raw && (r = line("\r\n")) <= 0) return r;
        if (script_base64 && !raw) {
            std::string coded = base64_encode(body_text, length, 72);
            r = body(coded.data(), coded.size(), false, true);
        } else if (!raw && !uue && mime && qp) {
            r = body(qp_body(body_text, length));
        } else if (!raw && uue) {
            UuEncoder encoder(*base ? without_line_ends(base).c_str() : "noname.dat");
            encoder.dot_doubling = !sink_stuffs_;
            encoder.encode(body_text, length);
            encoder.end();
            r = body(encoder.memory().bytes());
        } else {
            // A plain body has its leading dots doubled; a raw one only where
            // the transport's own sink does it.
            r = body(body_text, length, !raw);
        }
        if (r <= 0) return r;
    }
    if ((r = line("\r\n")) <= 0) return r;
    report_progress();
    return 1;
}

int MessageComposer::write_multipart_body(const char* body_text, size_t length)
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
    const string &mixed = boundary_mixed_, &alt = boundary_alt_, &rel = boundary_related_;
    int r;
    auto open_level = [&](const char* type, const string& boundary) {
        int s = line("Content-Type: %s; boundary=\"%s\"\r\n", type, boundary.c_str());
        if (s > 0) s = line("\r\n");
        if (s > 0) s = line("\r\n--%s\r\n", boundary.c_str());
        return s;
    };
    if (attachments && (r = open_level("multipart/mixed", mixed)) <= 0) return r;
    bool alternative_level = html && alternative;
    bool voice_level = !alternative_level && attachments && vpim;
    if (alternative_level && (r = open_level("multipart/alternative", alt)) <= 0) return r;
    if (voice_level && (r = open_level("multipart/voice-message", alt)) <= 0) return r;

    if (alternative_level) {
        if ((r = line("Content-Type: text/plain; charset=%s\r\n", charset.c_str())) <= 0) return r;
        if ((r = line("Content-Transfer-Encoding: %s\r\n", text_encoding_name(qp, eight_bit))) <= 0) return r;
        if ((r = line("\r\n")) <= 0) return r;
        string plain = alt_text.empty() ? html_to_text(body_text, length) : alt_text;
        total_size += plain.length();
        r = qp ? body(qp_body(plain.c_str(), plain.length())) : body(plain.c_str(), plain.length());
        if (r <= 0) return r;
        if ((r = line("\r\n")) <= 0 || (r = line("\r\n--%s\r\n", alt.c_str())) <= 0) return r;
    }
    // Related parts go with an HTML body; without one they are plain
    // attachments of the mixed level (or of a mixed level of their own).
    bool related_level = html && related;
    if (related_level && (r = open_level("multipart/related", rel)) <= 0) return r;
    if (!html && related && !attachments && (r = open_level("multipart/mixed", mixed)) <= 0) return r;

    r = line("Content-Type: %s; charset=%s\r\n", html ? "text/html" : content_type.c_str(), charset.c_str());
    if (r <= 0) return r;
    const char* encoding = script_base64 ? "base64" : text_encoding_name(qp, eight_bit);
    if ((r = line("Content-Transfer-Encoding: %s\r\n", encoding)) <= 0) return r;
    if ((r = line("\r\n")) <= 0) return r;
    if (script_base64) r = body(base64_encode(body_text, length, 72));
    else if (qp) r = body(qp_body(body_text, length));
    else r = body(body_text, length);
    if (r <= 0) return r;
    if ((r = line("\r\n")) <= 0) return r;

    auto write_parts = [&](ListOf& files, ListOf& locations, const string& boundary) {
        ListOfIterator f(files), l(locations);
        void *path, *location;
        for (int more = f.first(path) && l.first(location); more; more = f.next(path) && l.next(location)) {
            int s = write_attachment_part(boundary, static_cast<char*>(path), static_cast<char*>(location));
            if (s < 0) return s;
        }
        return 1;
    };
    if (related_level) {
        if ((r = write_parts(related_files, related_locations, rel)) <= 0) return r;
        if ((r = line("\r\n--%s--\r\n", rel.c_str())) <= 0 || (r = line("\r\n")) <= 0) return r;
    }
    if (alternative_level || voice_level) {
        if ((r = line("\r\n--%s--\r\n", alt.c_str())) <= 0 || (r = line("\r\n")) <= 0) return r;
    }
    if (attachments || (!html && related)) {
        if (!html && (r = write_parts(related_files, related_locations, mixed)) <= 0) return r;
        if ((r = write_parts(attachment_files, attachment_locations, mixed)) <= 0) return r;
        if ((r = line("\r\n--%s--", mixed.c_str())) <= 0) return r;
    }
    return 1;
}

int MessageComposer::write_attachment_part(const string& boundary, const char* path, const char* location)
{
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        // The message goes on without the part, but not without a word.
        if (warnings) *warnings << "WARNING: attachment '" << path << "' cannot be read! (" << errno << ")\r\n";
        return 0;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> closer(file, std::fclose);
    string base_name = file_part(path);
    MimeType type = mime_type_of(base_name.c_str(), binary != 0, text != 0);
    bool is_text = !type.binary && std::strncmp(type.type, "text/", 5) == 0;
    const char* loc = location ? location : "";
    int r;
    if ((r = line("\r\n--%s\r\n", boundary.c_str())) <= 0) return r;
    if (vpim && *loc) {
        if ((r = line("%s", loc)) <= 0) return r;
    } else {
        // A file's name is the sender's, not ours: it is quoted and can hold
        // no line end.
        std::string name = quoted_parameter(base_name.c_str());
        r = line("Content-Type: %s; name=%s%s\r\n", type.type, name.c_str(), type.binary ? "; type=Binary" : "");
        if (r <= 0) return r;
        if (*loc) {
            bool cid = nocase_compare_n(loc, "cid:", 4) == 0;
            std::string where = without_line_ends(cid ? loc + 4 : loc);
            r = cid ? line("Content-ID: <%s>\r\n", where.c_str()) : line("Content-Location: %s\r\n", where.c_str());
            if (r <= 0) return r;
        }
        r = line("Content-Disposition: %s; filename=%s\r\n", (inline_parts || *loc) ? "inline" : "attachment",
                 name.c_str());
        if (r <= 0) return r;
    }
    // A text part with quoted-printable data says so, whatever else is set.
    bool text_qp = is_text && qp && mime;
    const char* encoding = !is_text   ? (uue ? "X-UUencode" : "base64")
                           : text_qp  ? "quoted-printable"
                           : eight_bit && mime ? "8bit"
                           : mime      ? "7bit"
                                       : nullptr;
    if (encoding && (r = line("Content-Transfer-Encoding: %s\r\n", encoding)) <= 0) return r;
    if ((r = line("\r\n")) <= 0) return r;

    size_t piece = piece_size > 0 ? piece_size : 4096;
    std::unique_ptr<char[]> data(new char[piece]);
    MemorySink encoded;
    auto flush = [&](bool all) {
        if (encoded.length() == 0 || (!all && encoded.length() < piece)) return 1;
        // base64 lines need no stuffing; UUencoded ones may begin with '.'.
        int s = body(encoded.bytes().data(), encoded.length(), false, !uue);
        encoded.clear();
        return s;
    };
    size_t n;
    if (is_text) {
        // Line ends are made CR LF here too: mail text has no bare LF.
        int column = 1;
        CrlfLines lines;
        std::string coded, text_piece;
        while ((n = std::fread(data.get(), 1, piece, file)) > 0) {
            text_piece.clear();
            lines.convert(data.get(), n, text_piece);
            if (text_qp) {
                coded.resize(qp_encoded_capacity(text_piece.size()));
                size_t consumed = 0;
                coded.resize(qp_encode(column, text_piece.data(), text_piece.size(), false, false, &coded[0], consumed));
                r = body(coded);
            } else {
                r = body(text_piece);
            }
            if (r <= 0) return r;
        }
        std::string rest;
        lines.finish(rest);
        if (!rest.empty() && (r = body(rest)) <= 0) return r;
    } else if (uue) {
        size_t uu_piece = piece / 45 * 45;
        if (uu_piece == 0) uu_piece = 45;
        UuEncoder encoder(without_line_ends(base_name.c_str()).c_str(), encoded);
        encoder.dot_doubling = !sink_stuffs_;
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
    if (std::ferror(file)) {
        error_ = std::string("cannot read ") + path;
        return -1;
    }
    return 1;
}

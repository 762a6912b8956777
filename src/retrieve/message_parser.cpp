// The received-message parser: one pass over the lines of a message, read
// straight from the reader's connection (or file), filling the header
// fields, the map of main-header lines, the message text and the parts with
// their decoded data, names, types and identifiers.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "base/base64.h"
#include "base/byte_sink.h"
#include "base/quoted_printable.h"
#include "base/text_stream.h"
#include "base/uucode.h"
#include "platform/nocase.h"
#include "platform/trace.h"
#include "retrieve/mime_parameters.h"
#include "retrieve/part_names.h"
#include "retrieve/read_mail.h"

namespace {

constexpr uint64_t max_capacity = 134217728;  // 128 MiB: the most one message may take
constexpr uint64_t min_hint_capacity = 1048576;
constexpr size_t read_piece = 65536;  // a long line is read in pieces of this size

// Bytes kept by the parser: malloc'd, grown by doubling (a large block
// grows without being copied), and cut to its exact size in place.
class GrowBuffer : public ByteSink {
public:
    GrowBuffer() = default;
    GrowBuffer(const GrowBuffer&) = delete;
    GrowBuffer& operator=(const GrowBuffer&) = delete;
    ~GrowBuffer() override { std::free(data_); }

    void write(const char* bytes, size_t length) override
    {
        if (length == 0) return;
        reserve(size_ + length);
        std::memcpy(data_ + size_, bytes, length);
        size_ += length;
    }
    void reserve(size_t size)
    {
        if (size + 1 <= capacity_) return;
        size_t grown = capacity_ ? capacity_ * 2 : 256;
        if (grown < size + 1) grown = size + 1;
        char* more = static_cast<char*>(std::realloc(data_, grown));
        if (!more) throw std::bad_alloc();
        data_ = more;
        capacity_ = grown;
    }
    char* data() { return data_; }
    // Takes the other buffer's bytes (this one is empty), without a copy.
    void take(GrowBuffer& other)
    {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    size_t size() const { return size_; }
    void resize(size_t size)
    {
        reserve(size);
        size_ = size;
    }
    // Hands the bytes over, NUL-terminated and at their exact size.
    char* release()
    {
        reserve(size_);
        char* exact = static_cast<char*>(std::realloc(data_, size_ + 1));
        if (!exact) exact = data_;
        exact[size_] = 0;
        data_ = nullptr;
        size_ = capacity_ = 0;
        return exact;
    }

private:
    char* data_ = nullptr;
    size_t size_ = 0, capacity_ = 0;
};

bool starts_nocase(const std::string& text, const char* prefix)
{
    return nocase_compare_n(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

char* copy_bytes(const char* text, size_t length)
{
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy, text, length);
    copy[length] = 0;
    return copy;
}

char* copy_text(const string& text) { return copy_bytes(text.c_str(), text.length()); }

void drop_last(ListOf& list)
{
    void* p;
    if (list.take_last(p)) std::free(p);
}

// The length of a line without its line end (LF, or CR LF).
size_t content_length(const std::string& line)
{
    size_t n = line.size();
    if (n && line[n - 1] == '\n') --n;
    if (n && line[n - 1] == '\r') --n;
    return n;
}

}  // namespace

class ReadMail::Parser {
public:
    Parser(ReadMail& r, uint32_t expected, int start_in_body)
        : r_(r), in_body_(start_in_body != 0), main_done_(start_in_body != 0), base64_(r.preset_base64 != 0),
          qp_(r.preset_qp != 0)
    {
        uint64_t e = expected;
        if (r.size_is_exact) {
            // An exact size is read whole, however large: the buffers grow
            // as the parts do, and only decoded data is kept. Cutting the
            // message at a fixed size would lose the end of its last part.
            capacity_ = e;
        } else {
            capacity_ = e * 4;
            if (capacity_ < min_hint_capacity) capacity_ = min_hint_capacity;
            if (capacity_ > max_capacity) capacity_ = max_capacity;
        }
        if (base64_) start_base64();
    }

    int run()
    {
        int saved_mode = r_.retrieve_mode;
        if (r_.extract_parts) r_.retrieve_mode = 0;
        while (!r_.parse_done) {
            if (r_.size_is_exact && r_.bytes_read >= capacity_) break;
            if (read_line(line_, capacity_ - r_.bytes_read) <= 0) {
                r_.close();
                failed_ = true;
                break;
            }
            handle_line();
        }
        finish_message();
        r_.retrieve_mode = saved_mode;
        return failed_ ? 0 : 1;
    }

private:
    // One line through the reader's own line read, however long (up to
    // limit): its byte count, or the failed read's result.
    int read_line(std::string& out, uint64_t limit)
    {
        out.clear();
        if (!scratch_) scratch_.reset(new char[read_piece]);
        while (out.size() < limit) {
            size_t room = limit - out.size() < read_piece ? static_cast<size_t>(limit - out.size()) : read_piece;
            int n = r_.read_line(scratch_.get(), static_cast<int>(room));
            if (n <= 0) {
                if (out.empty()) return n;
                break;
            }
            out.append(scratch_.get(), static_cast<size_t>(n));
            if (out.back() == '\n') break;
        }
        r_.bytes_read += out.size();
        if (trace_enabled()) trace_write(out.data(), out.size());
        if (r_.debug_level >= 4) echo_raw(out);
        return out.empty() ? 0 : static_cast<int>(out.size() > INT32_MAX ? INT32_MAX : out.size());
    }

    void echo_raw(const std::string& line)
    {
        std::string shown;
        for (char c : line) shown += c == '\r' ? "<CR>" : c == '\n' ? "<LF>" : std::string(1, c);
        report_stream << "LINE: " << shown.c_str() << "\r\n";
    }

    void note(const char* what, const std::string& detail = "")
    {
        if (r_.debug_level >= 3) report_stream << "PARSE: " << what << " " << detail.c_str() << "\r\n";
        if (trace_enabled()) {
            trace_write(what);
            trace_write("\r\n");
        }
    }

    bool header_mode() const { return !in_body_; }

    // Continuation lines of a header line, joined: no blank for Subject, one
    // blank for every other line.
    void unfold()
    {
        for (;;) {
            // A message of an exact size ends there: what follows (the
            // rest of an IMAP FETCH answer) is no continuation line.
            if (r_.size_is_exact && r_.bytes_read >= capacity_) return;
            char next;
            if (r_.peek_byte(next) <= 0 || (next != ' ' && next != '\t')) return;
            while (r_.peek_byte(next) > 0 && (next == ' ' || next == '\t')) {
                char skipped;
                if (r_.read(&skipped, 1) <= 0) {
                    r_.close();
                    return;
                }
                ++r_.bytes_read;
            }
            size_t n = content_length(line_);
            while (n && (line_[n - 1] == ' ' || line_[n - 1] == '\t')) --n;
            line_.resize(n);
            if (!starts_nocase(line_, "Subject:")) line_ += ' ';
            std::string more;
            if (r_.bytes_read >= capacity_ || read_line(more, capacity_ - r_.bytes_read) <= 0) {
                r_.close();
                return;
            }
            line_ += more;
        }
    }

    void handle_line()
    {
        if (header_mode() && (!r_.raw_mode || r_.force_unfold) && line_.size() > 3) unfold();
        size_t n = content_length(line_);
        if (!r_.size_is_exact && n == 1 && line_[0] == '.') {
            end_of_data_ = true;
            r_.parse_done = 1;
            r_.header_count = 0;
            return;
        }
        if (header_mode())
            for (char& c : line_)
                if (c == '\t') c = ' ';
        if (!main_done_ && n > 1 && line_.find(':') != std::string::npos) map_header();
        if (in_body_) body_line();
        else header_line();
    }

    void map_header()
    {
        size_t colon = line_.find(':');
        std::string key = line_.substr(0, colon);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t v = colon + 1;
        while (v < line_.size() && line_[v] == ' ') ++v;
        size_t end = line_.find_first_of("\r\n", v);
        if (end == std::string::npos) end = line_.size();
        r_.header_map.insert(string(key.c_str()), string(line_.data() + v, end - v));
    }

    // The target of kept text: the part being extracted, or the message text.
    GrowBuffer& target() { return in_part_ ? part_ : body_; }
    void keep(const char* bytes, size_t length) { target().write(bytes, length); }
    void keep_line() { keep(line_.data(), line_.size()); }

    void header_line()
    {
        size_t n = content_length(line_);
        if (r_.raw_mode) keep_line();
        // A part may have no header at all: a blank first line after its
        // delimiter starts its body (its text would be lost as header lines).
        bool empty_part_header = first_part_line_ && n == 0;
        first_part_line_ = false;
        if (n <= 1 && (r_.header_count != 0 || empty_part_header)) {
            main_done_ = true;
            if (skip_header_end_) {
                skip_header_end_ = false;
                return;
            }
            in_body_ = true;
            note("body");
            return;
        }
        if (!main_done_ && main_header_field()) return;
        content_header();
    }

    std::string value_after(size_t prefix_length) const
    {
        if (prefix_length >= line_.size()) return std::string();
        size_t end = line_.find_first_of("\r\n", prefix_length);
        return line_.substr(prefix_length, (end == std::string::npos ? line_.size() : end) - prefix_length);
    }

    std::string value_after_blank() const
    {
        size_t blank = line_.find(' ');
        return blank == std::string::npos ? "" : value_after(blank + 1);
    }

    string decoded(const std::string& text) { return r_.decoded(text.data(), text.size()); }

    bool main_header_field()
    {
        struct Field {
            const char* prefix;
            string ReadMail::*field;
            bool append;
        };
        static const Field fields[] = {
            {"To: ", &ReadMail::hdr_to, true},
            {"Cc: ", &ReadMail::hdr_cc, true},
            {"Date: ", &ReadMail::hdr_date, false},
            {"Message-ID: ", &ReadMail::hdr_message_id, false},
            {"References: ", &ReadMail::hdr_references, false},
            {"Subject: ", &ReadMail::hdr_subject, false},
            {"From: ", &ReadMail::hdr_from, false},
            {"Reply-To: ", &ReadMail::hdr_reply_to, false},
            {"Sensitivity: ", &ReadMail::hdr_sensitivity, false},
        };
        for (const Field& f : fields) {
            if (!starts_nocase(line_, f.prefix)) continue;
            ++r_.header_count;
            string value = decoded(value_after(std::strlen(f.prefix)));
            string& target_field = r_.*f.field;
            target_field = f.append && !target_field.empty() ? target_field + "," + value : value;
            return true;
        }
        if (starts_nocase(line_, "Disposition-Notification-To: ")) {
            ++r_.header_count;
            r_.hdr_notify_to = decoded(value_after_blank());
            return true;
        }
        if (starts_nocase(line_, "Return-Receipt-To: ")) {
            ++r_.header_count;
            return true;
        }
        if (starts_nocase(line_, "Importance: ") || starts_nocase(line_, "X-MSMail-Priority: ")) {
            ++r_.header_count;
            std::string v = value_after_blank();
            r_.priority = starts_nocase(v, "High") ? 1 : starts_nocase(v, "Low") ? 2 : starts_nocase(v, "Normal") ? 3 : 0;
            return true;
        }
        if (r_.priority == 0 && starts_nocase(line_, "X-Priority: ")) {
            ++r_.header_count;
            char* end = nullptr;
            std::string v = value_after_blank();
            long p = std::strtol(v.c_str(), &end, 10);
            r_.priority = end == v.c_str() || p < 3 ? 1 : p == 3 ? 3 : 2;
            return true;
        }
        return false;
    }

    void content_header()
    {
        bool multipart_ok = !r_.raw_mode && r_.retrieve_mode == 0;
        if (starts_nocase(line_, "Content-ID: ")) {
            ++r_.header_count;
            std::string v = value_after(12), id;
            if (!v.empty() && v[0] == '<') id = v.substr(1, v.find('>') == std::string::npos ? std::string::npos : v.find('>') - 1);
            r_.hdr_content_id = decoded(id);
            if (r_.extract_parts) r_.att_ids.add(copy_text(r_.hdr_content_id));
            return;
        }
        if (starts_nocase(line_, "Content-Location: ")) {
            ++r_.header_count;
            r_.hdr_content_location = decoded(value_after(18));
            return;
        }
        if (starts_nocase(line_, "Content-Base: ")) {
            ++r_.header_count;
            r_.hdr_content_base = decoded(value_after(14));
            return;
        }
        if (r_.raw_mode) return;
        if (multipart_ok && starts_nocase(line_, "Content-Type: multipart/")) {
            ++r_.header_count;
            if (starts_nocase(line_, "Content-Type: multipart/alternative")) alternative_ = true;
            if (starts_nocase(line_, "Content-Type: multipart/mixed")) mixed_leader_ = true;
            new_multipart();
            return;
        }
        if (starts_nocase(line_, "Content-Type: message/")) {
            ++r_.header_count;
            skip_header_end_ = true;
            return;
        }
        if (starts_nocase(line_, "Content-Type:")) {
            ++r_.header_count;
            content_type();
            return;
        }
        if (starts_nocase(line_, "Content-Disposition:")) {
            ++r_.header_count;
            file_name();
            return;
        }
        if (starts_nocase(line_, "Content-Transfer-Encoding:") || starts_nocase(line_, "X-pmuue:")) {
            ++r_.header_count;
            bool header = starts_nocase(line_, "Content-Transfer-Encoding:");
            std::string v = value_after(header ? std::strlen("Content-Transfer-Encoding:") : std::strlen("X-pmuue:"));
            size_t b = v.find_first_not_of(" \t");
            v = b == std::string::npos ? "" : v.substr(b);
            qp_ = header && starts_nocase(v, "quoted-printable");
            base64_ = false;
            b64_.reset();
            if (header && starts_nocase(v, "base64")) start_base64();
        }
    }

    void start_base64()
    {
        b64_out_.reset(new GrowBuffer);
        b64_.reset(new Base64Decoder(*b64_out_, '/'));
        base64_ = true;
        qp_ = false;
    }

    void content_type()
    {
        std::string v = value_after(13);
        size_t b = v.find_first_not_of(" \t");
        v = b == std::string::npos ? "" : v.substr(b);
        size_t type_end = v.find_first_of(";\"\r\n");
        std::string type = v.substr(0, type_end == std::string::npos ? v.size() : type_end);
        r_.hdr_content_type = decoded(type.substr(0, 255));
        size_t cs = v.find("charset=");
        if (cs != std::string::npos) {
            size_t start = cs + 8;
            if (start < v.size() && v[start] == '"') ++start;
            size_t end = v.find_first_of(";\"\r\n", start);
            r_.hdr_charset = decoded(v.substr(start, (end == std::string::npos ? v.size() : end) - start).substr(0, 255));
        }
        if (r_.extract_parts) {
            size_t from = 13;
            while (from < line_.size() && (line_[from] == ' ' || line_[from] == '\t')) ++from;
            r_.att_types.add(copy_text(decoded(line_.substr(from))));
        }
        take_name(v, "name");
    }

    void file_name()
    {
        std::string v = value_after(20);
        take_name(v, "filename");
    }

    // The part's name from "name=" / "filename=" (the plain form wins) or
    // from their RFC 2231 forms.
    void take_name(const std::string& value, const char* parameter)
    {
        if (!name_pending_) return;
        std::string found;
        bool have = plain_parameter(value, parameter, found);
        if (have) {
            string value = decoded(found);
            found.assign(value.c_str(), value.length());
        } else {
            string extended, charset;
            if (!extended_parameter(value.c_str(), parameter, extended, charset) || extended.empty()) return;
            found.assign(extended.c_str(), extended.length());
        }
        name_pending_ = false;
        if (r_.extract_parts) r_.att_names.add(copy_text(sanitize_file_name(found.data(), found.size())));
    }

    // "name=" or "name =" (case-sensitive, not inside a longer word such as
    // "filename=" when asked for "name"): quoted to the closing quote,
    // else to the next ';'; at most to the line end.
    static bool plain_parameter(const std::string& value, const char* name, std::string& out)
    {
        size_t length = std::strlen(name);
        for (size_t at = value.find(name); at != std::string::npos; at = value.find(name, at + 1)) {
            if (at > 0 && (std::isalnum(static_cast<unsigned char>(value[at - 1])) || value[at - 1] == '*')) continue;
            size_t p = at + length;
            while (p < value.size() && value[p] == ' ') ++p;
            if (p >= value.size() || value[p] != '=') continue;
            ++p;
            while (p < value.size() && (value[p] == ' ' || value[p] == '\t')) ++p;
            if (p < value.size() && value[p] == '"') {
                size_t end = value.find_first_of("\"\r\n", p + 1);
                out = value.substr(p + 1, (end == std::string::npos ? value.size() : end) - p - 1);
            } else {
                size_t end = value.find_first_of(";\r\n", p);
                out = value.substr(p, (end == std::string::npos ? value.size() : end) - p);
                while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
            }
            return true;
        }
        return false;
    }

    void new_multipart()
    {
        if (!key_.empty()) r_.boundary_stack.add_first(string(key_.c_str()));
        std::string lower = line_;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t at = lower.find("boundary");
        while (at != std::string::npos) {
            size_t p = at + 8;
            while (p < line_.size() && line_[p] == ' ') ++p;
            if (p < line_.size() && line_[p] == '=') {
                ++p;
                while (p < line_.size() && (line_[p] == ' ' || line_[p] == '\t')) ++p;
                size_t end;
                if (p < line_.size() && line_[p] == '"') {
                    ++p;
                    end = line_.find_first_of("\"\r\n", p);
                } else {
                    end = line_.find_first_of(" ;\r\n", p);
                }
                std::string boundary = line_.substr(p, (end == std::string::npos ? line_.size() : end) - p);
                key_ = "--" + boundary.substr(0, 255) + "--";
                note("multipart", key_);
                return;
            }
            at = lower.find("boundary", at + 1);
        }
    }

    // A line that begins with the delimiter text and has after it nothing
    // but blanks, or the '-' of a close: "--abcdef" is no delimiter of
    // the boundary "abc".
    bool is_delimiter() const
    {
        if (key_.empty()) return false;
        size_t length = key_.size() - 2;
        if (line_.compare(0, length, key_, 0, length) != 0) return false;
        size_t end = content_length(line_);
        if (end <= length || line_[length] == '-') return true;
        for (size_t i = length; i < end; ++i)
            if (line_[i] != ' ' && line_[i] != '\t') return false;
        return true;
    }

    // Whether the line is a delimiter of a multipart that encloses the
    // current one: then the inner ones never closed.
    bool outer_delimiter()
    {
        if (line_.size() < 2 || line_[0] != '-' || line_[1] != '-' || is_delimiter()) return false;
        std::string current = key_;
        ListIterator<string> it(r_.boundary_stack);
        string outer;
        bool found = false;
        for (int more = it.first(outer); more && !found; more = it.next(outer)) {
            key_ = outer.c_str();
            found = is_delimiter();
        }
        key_ = current;
        return found;
    }

    // Closes the open inner multiparts as their own close delimiters would.
    void close_inner_levels()
    {
        std::string line = line_;
        while (!key_.empty() && !is_delimiter() && r_.boundary_stack.count() > 0) {
            line_ = key_ + "\r\n";
            part_end(base64_);
            line_ = line;
        }
    }

    void body_line()
    {
        if (!key_.empty() && r_.boundary_stack.count() && outer_delimiter()) {
            note("unclosed multipart", key_);
            close_inner_levels();
            if (!in_body_) return;  // in a part header now, as after a close: the line is dropped
        }
        size_t n = content_length(line_);
        if (base64_) {
            if (!key_.empty() && is_delimiter()) return part_end(true);
            // A blank line inside base64 is dropped: a single-part body ends
            // with the data, not at a blank line that more base64 follows.
            if (n == 0) return;
            b64_->write(line_.data(), n);
            return;
        }
        if (!key_.empty() && is_delimiter()) return part_end(false);
        if (qp_) {
            // A soft line break: the next line is written right behind this
            // one. (Looked for only here: a delimiter may end with '=' too.)
            if (n > 0 && line_[n - 1] == '=') line_.resize(n - 1);
            size_t decoded_length = line_.empty() ? 0 : decode_quoted_printable(&line_[0], line_.size());
            line_.resize(decoded_length);
            return keep_line();
        }
        if (uu_) {
            if (starts_nocase(line_, "end") && n <= 3) return uu_close();
            if (line_[0] == '`' && n <= 1) return;
            if (n == 0) return keep_line();
            uu_->decode_line(line_.data(), line_.size());
            return;
        }
        if (r_.raw_mode) return keep_line();
        if (main_done_) {
            if (starts_nocase(line_, "filetime ") && n >= 12 && std::isdigit(static_cast<unsigned char>(line_[9])))
                return;
            if (starts_nocase(line_, "begin ") && n > 10 && std::isdigit(static_cast<unsigned char>(line_[6])) &&
                std::isdigit(static_cast<unsigned char>(line_[7])) && std::isdigit(static_cast<unsigned char>(line_[8])) &&
                std::isspace(static_cast<unsigned char>(line_[9])) && !std::isspace(static_cast<unsigned char>(line_[10])))
                return uu_open();
        }
        if (r_.dot_stuffed && !line_.empty() && line_[0] == '.') {
            keep(line_.data() + 1, line_.size() - 1);
            return;
        }
        keep_line();
    }

    // The part that ends at a delimiter.
    void part_end(bool base64_part)
    {
        bool closes = line_.compare(0, key_.size(), key_) == 0;
        bool half_close = !closes && line_.compare(0, key_.size() - 1, key_, 0, key_.size() - 1) == 0;
        if (half_close && r_.debug_level > 0) report_stream << "WARNING: incorrect MIME multipart termination\r\n";
        closes = closes || half_close;
        if (base64_part) {
            b64_->finish();
            GrowBuffer& decoded_bytes = *b64_out_;
            if (in_part_) {
                // A base64 part keeps no lines of its own: the decoded bytes
                // become its data as they are, without a second copy.
                if (part_.size() == 0) part_.take(decoded_bytes);
                else part_.write(decoded_bytes.data(), decoded_bytes.size());
                complete_part();
            } else {
                body_.write(decoded_bytes.data(), decoded_bytes.size());
            }
            alternative_ = closes ? false : alternative_;
            b64_.reset();
            b64_out_.reset();
            base64_ = false;
        } else {
            // The line break before the delimiter belongs to the delimiter.
            GrowBuffer& text = target();
            size_t n = text.size();
            if (n && text.data()[n - 1] == '\n') --n;
            if (n && text.data()[n - 1] == '\r') --n;
            text.resize(n);
            if (in_part_) {
                complete_part();
                if (mixed_leader_) {
                    mixed_leader_ = false;
                    drop_last_entry();
                } else if (alternative_ && drop_alternative()) {
                    drop_last_entry();
                }
            } else if (mixed_leader_) {
                mixed_leader_ = false;
            }
        }
        if (closes) {
            mixed_leader_ = false;
            alternative_ = false;
            key_.clear();
            string outer;
            if (!r_.boundary_stack.take_first(outer)) {
                in_body_ = false;
                r_.header_count = 0;
                name_pending_ = true;
                qp_ = base64_ = false;
                note("last close delimiter");
                return;
            }
            key_ = outer.c_str();
            r_.header_count = 1;
        } else {
            r_.header_count = 0;
        }
        if (!key_.empty() && r_.extract_parts) in_part_ = true;
        // The next part has an identifier only if its own header gives one:
        // an earlier part's would name it, and two files would share a name.
        r_.hdr_content_id.clear();
        name_pending_ = true;
        qp_ = false;
        in_body_ = false;
        first_part_line_ = true;
        note("part", key_);
    }

    bool drop_alternative() const
    {
        const char* type = r_.hdr_content_type.c_str();
        return r_.prefer_html ? nocase_compare_n(type, "text/plain", 10) == 0
                              : nocase_compare_n(type, "text/html", 9) == 0;
    }

    void drop_last_entry()
    {
        drop_last(r_.att_data);
        void* size;
        if (r_.att_sizes.take_last(size)) r_.attachments_total -= reinterpret_cast<uintptr_t>(size);
        drop_last(r_.att_names);
        drop_last(r_.att_types);
        drop_last(r_.att_ids);
    }

    // The other four lists brought up to the length of att_data, which has
    // just taken the part's bytes.
    void complete_part()
    {
        size_t n = part_.size();
        r_.att_data.add(part_.release());
        in_part_ = false;
        fill_lists(n, false, false);
    }

    void fill_lists(size_t n, bool generated_name, bool octet_stream_type)
    {
        int count = r_.att_data.count();
        if (generated_name && r_.att_names.count() < count && name_pending_) {
            char name[32];
            std::snprintf(name, sizeof name, "%08lX.%03d", static_cast<unsigned long>(time(nullptr)) & 0xFFFFFFFFUL,
                          static_cast<int>(clock() % 1000));
            std::string decoded_name = decoded(name).c_str();
            r_.att_names.add(copy_text(sanitize_file_name(decoded_name.data(), decoded_name.size())));
        }
        while (r_.att_names.count() < count)
            r_.att_names.add(r_.hdr_content_id.empty() ? nullptr : copy_text(sanitize_file_name(r_.hdr_content_id)));
        while (r_.att_types.count() < count)
            r_.att_types.add(octet_stream_type ? copy_bytes("application/octet-stream", 24) : nullptr);
        while (r_.att_ids.count() < count) r_.att_ids.add(octet_stream_type ? copy_bytes("", 0) : nullptr);
        while (r_.att_sizes.count() < count) {
            r_.att_sizes.add(reinterpret_cast<void*>(static_cast<uintptr_t>(n)));
            r_.attachments_total += n;
        }
        if (trace_enabled()) trace_write("part completed\r\n");
    }

    void single_part_base64_end(bool short_line)
    {
        b64_->finish();
        GrowBuffer& decoded_bytes = *b64_out_;
        if (r_.extract_parts) {
            size_t n = decoded_bytes.size();
            r_.att_data.add(decoded_bytes.release());
            fill_lists(n, short_line, false);
        } else {
            body_.write(decoded_bytes.data(), decoded_bytes.size());
        }
        b64_.reset();
        b64_out_.reset();
        base64_ = false;
        name_pending_ = true;
        if (r_.retrieve_mode != 1) {
            in_body_ = false;
            r_.header_count = 0;
        }
    }

    void uu_open()
    {
        uu_.reset(new UuDecoder(line_.c_str()));
        uu_->dot_removal = r_.dot_stuffed;
        if (r_.extract_parts && key_.empty()) {
            // The message's own type belongs to its text, never to the
            // block (a binary file taken for text would lose its CR LF
            // bytes): the text so far becomes a part of that type, in its
            // place before the block.
            if (size_t n = body_.size()) {
                r_.att_data.add(body_.release());
                fill_lists(n, false, false);
            }
            for (IteratedListOf* list : {&r_.att_names, &r_.att_types, &r_.att_ids})
                while (list->count() > r_.att_data.count()) drop_last(*list);
            uu_extracted_ = true;
            // Like every other name, the block's own: never a path.
            std::string name = uu_->name.c_str();
            r_.att_names.add(copy_text(sanitize_file_name(name.data(), name.size())));
        }
        main_done_ = false;
    }

    void uu_close()
    {
        uu_->finish();
        const std::string& bytes = uu_->memory().bytes();
        if (r_.extract_parts && key_.empty()) {
            r_.att_data.add(copy_bytes(bytes.data(), bytes.size()));
            fill_lists(bytes.size(), false, true);
        } else {
            keep(bytes.data(), bytes.size());
        }
        uu_.reset();
        main_done_ = true;
    }

    void finish_message()
    {
        if (in_part_) {
            // A part the message never closed is still a part.
            if (base64_ && b64_) {
                b64_->finish();
                part_.write(b64_out_->data(), b64_out_->size());
                b64_.reset();
                base64_ = false;
            }
            complete_part();
        }
        if (base64_ && b64_ && key_.empty() && !r_.preset_base64) single_part_base64_end(false);
        if (uu_) uu_close();  // a block the message never ended keeps what it decoded
        if (r_.retrieve_mode != 1 && !key_.empty() && r_.debug_level > 0)
            report_stream << "TAVRIN error: Unterminated multipart MIME attachment detected. Data may be incomplete.\r\n";
        // Text after a block is a part like the text before it.
        if (r_.att_types.count() > r_.att_data.count() || (uu_extracted_ && body_.size())) trailing_text();
        // Entries that no part took (a Content-Type or Content-ID with no
        // text behind it) go, so the five lists stay in step.
        for (IteratedListOf* list : {&r_.att_names, &r_.att_types, &r_.att_ids})
            while (list->count() > r_.att_data.count()) drop_last(*list);
        r_.boundary_stack.clear();
        if (r_.preset_base64 && b64_) {
            b64_->finish();
            body_.write(b64_out_->data(), b64_out_->size());
            b64_.reset();
        }
        r_.body_length = body_.size();
        r_.body_size_ = body_.size();
        r_.body_text_.reset(body_.release());
        r_.parse_done = 1;
    }

    // Text that no part took (the body of a single-part message with a
    // Content-Type) becomes the last part.
    void trailing_text()
    {
        if (!end_of_data_)
            for (const char* key : {"content-disposition", "content-type", "content-transfer-encoding"})
                r_.header_map.remove(string(key));
        size_t n = body_.size();
        if (n == 0) return;
        r_.att_data.add(body_.release());
        while (r_.att_names.count() < r_.att_data.count()) r_.att_names.add(nullptr);
        while (r_.att_ids.count() < r_.att_data.count()) r_.att_ids.add(nullptr);
        while (r_.att_types.count() < r_.att_data.count())
            r_.att_types.add(copy_bytes("application/octet-stream", 24));
        while (r_.att_sizes.count() < r_.att_data.count()) {
            r_.att_sizes.add(reinterpret_cast<void*>(static_cast<uintptr_t>(n)));
            r_.attachments_total += n;
        }
    }

    ReadMail& r_;
    uint64_t capacity_ = 0;
    bool in_body_, main_done_, base64_, qp_;
    bool name_pending_ = true, skip_header_end_ = false, mixed_leader_ = false, alternative_ = false;
    bool in_part_ = false, end_of_data_ = false, failed_ = false, first_part_line_ = false, uu_extracted_ = false;
    std::string key_, line_;
    GrowBuffer body_, part_;
    std::unique_ptr<GrowBuffer> b64_out_;
    std::unique_ptr<Base64Decoder> b64_;
    std::unique_ptr<UuDecoder> uu_;
    std::unique_ptr<char[]> scratch_;  // one piece of a line as the reader delivers it
};

int ReadMail::parse(uint32_t expected, int start_in_body)
{
    clear_results();
    priority = 0;
    header_count = 0;
    bytes_read = body_length = attachments_total = 0;
    parse_done = 0;
    expected_size = expected;
    return Parser(*this, expected, start_in_body).run();
}

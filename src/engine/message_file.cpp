// Message description files: a sequence of described messages ("-import"),
// or one complete message whose envelope comes from its header ("-relay",
// "-t").
#include "engine/message_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/text_utils.h"
#include "engine/address_list.h"
#include "engine/exchangers.h"
#include "engine/option_state.h"
#include "engine/run_state.h"
#include "engine/send_driver.h"
#include "base/text_stream.h"
#include "net/dns.h"
#include "platform/nocase.h"
#include "platform/paths.h"

namespace {

struct Message {
    std::string from, reply_to, to, cc, bcc, subject, organization, date, body;
    int priority = 0;
    int attachments = 0;
};

void join(std::string& list, const std::string& more)
{
    if (more.empty()) return;
    if (!list.empty()) list += ",";
    list += more;
}

std::string translated(const std::string& value)
{
    bool found = false;
    return translate_address_list(value.c_str(), found).c_str();
}

enum class Field { to, cc, bcc, to_list, cc_list, bcc_list, from, reply_to, subject, organization, importance, date,
                   file_item, file_object };

struct KeywordRow {
    const char* keyword;
    Field field;
};

const KeywordRow keyword_rows[] = {
    {"Newsgroups:", Field::to},       {"To:", Field::to},          {"Cc:", Field::cc},
    {"Bcc:", Field::bcc},             {"Tolist:", Field::to_list}, {"Cclist:", Field::cc_list},
    {"Bcclist:", Field::bcc_list},    {"From:", Field::from},      {"Reply-To:", Field::reply_to},
    {"Subject:", Field::subject},     {"Organization:", Field::organization},
    {"Importance:", Field::importance}, {"Date:", Field::date},    {"File Item:", Field::file_item},
    {"File Object:", Field::file_object},
};

bool is_fold(char c) { return c == '\t' || c == ' '; }

// The text with the Bcc lines of its header (and their continuations) left
// out; the body is untouched.
std::string without_bcc_lines(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    bool dropping = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        size_t length = end - at;
        bool blank = length == 1 || (length == 2 && text[at] == '\r');
        if (blank) break;  // the header ends here
        if (!is_fold(text[at])) dropping = nocase_compare_n(text.c_str() + at, "Bcc:", 4) == 0;
        if (!dropping) out.append(text, at, length);
        at = end;
    }
    out.append(text, at, std::string::npos);
    return out;
}

class Reader {
public:
    Reader(bool relay, const std::string& text, int count, const string& to, const string& cc, const string& bcc)
        : relay_(relay), text_(text), count_(count), to_(to), cc_(cc), bcc_(bcc), o_(options()),
          t_(run_state().current_transport())
    {
    }

    MessageFileOutcome run()
    {
        Message m;
        bool header = true;
        std::string line;
        while (next_line(line)) {
            if (relay_) {
                if (header) {
                    join_folded(line);
                    if (line.empty()) {
                        header = false;
                        continue;
                    }
                    keyword(line, m, true);
                }
                continue;  // the body is relayed whole, a "." line included
            }
            if (header) {
                if (starts_with(line, "Contents:")) header = false;
                else keyword(line, m, true);
                continue;
            }
            if (starts_with(line, "Message:")) {
                finish(m);
                m = Message();
                header = true;
                continue;
            }
            if (!keyword(line, m, false)) m.body += line + "\r\n";
        }
        // The whole input: nothing of it is cut; with "-t" its Bcc lines,
        // which gave recipients, are not shown to all of them.
        if (relay_) m.body = o_.relay_host.empty() ? without_bcc_lines(text_) : text_;
        finish(m);
        return outcome_;
    }

private:
    static bool starts_with(const std::string& line, const char* keyword)
    {
        return nocase_compare_n(line.c_str(), keyword, std::strlen(keyword)) == 0;
    }

    bool next_line(std::string& line)
    {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string::npos) end = text_.size();
        line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++line_number_;
        report_stream << "GOT [" << static_cast<long>(line.size()) << "]: '" << line.c_str() << "'\r\n";
        return true;
    }

    // Relay header lines continued by lines that begin with a tab or a blank
    // (a To line folded either way names every recipient). The
    // echo shows the joined line so far, its first KiB only: a header of
    // many folds must not make the report grow with the square of it.
    void join_folded(std::string& line)
    {
        while (pos_ < text_.size() && is_fold(text_[pos_])) {
            std::string more;
            next_line(more);
            line += more;
            report_stream << "GOT2: '";
            report_stream.write(line.data(), line.size() < max_echo ? line.size() : max_echo);
            report_stream << (line.size() > max_echo ? "...'\r\n" : "'\r\n");
        }
    }

    // Applies a keyword line; false when the line holds none.
    bool keyword(const std::string& line, Message& m, bool in_header)
    {
        for (const KeywordRow& row : keyword_rows) {
            if (!starts_with(line, row.keyword)) continue;
            bool attachment = row.field == Field::file_item || row.field == Field::file_object;
            if (!in_header && !attachment) return false;
            std::string value = line.substr(std::strlen(row.keyword));
            size_t b = value.find_first_not_of(" \t");
            value = b == std::string::npos ? "" : value.substr(b);
            while (!value.empty() && value.back() == ' ') value.pop_back();
            apply(row.field, value, m);
            return true;
        }
        return false;
    }

    void apply(Field field, const std::string& value, Message& m)
    {
        bool plain_relay = relay_ && !o_.relay_host.empty();  // "-relay", "-relay:"; not "-t"
        switch (field) {
        case Field::to: join(m.to, translated(value)); break;
        case Field::cc: if (!plain_relay) join(m.cc, translated(value)); break;
        case Field::bcc: if (!plain_relay) join(m.bcc, translated(value)); break;
        case Field::to_list: join(m.to, read_address_list(value.c_str(), o_.hash != 0).c_str()); break;
        case Field::cc_list: join(m.cc, read_address_list(value.c_str(), o_.hash != 0).c_str()); break;
        case Field::bcc_list: join(m.bcc, read_address_list(value.c_str(), o_.hash != 0).c_str()); break;
        case Field::from: m.from = value; break;
        case Field::reply_to: m.reply_to = value; break;
        case Field::subject: m.subject = value; break;
        case Field::organization: m.organization = value; break;
        case Field::date: m.date = value; break;
        case Field::importance:
            m.priority = nocase_compare(value.c_str(), "High") == 0     ? 1
                         : nocase_compare(value.c_str(), "Low") == 0    ? 2
                         : nocase_compare(value.c_str(), "Normal") == 0 ? 3
                                                                        : 0;
            break;
        case Field::file_item: attach(value.substr(0, 255), "", 0, "attachment", m); break;
        case Field::file_object: {
            char file[256] = "", location[256] = "";
            std::sscanf(value.c_str(), "%255[^|]|%255[^\r\n]", file, location);
            attach(file, location, 1, "object", m);
            break;
        }
        }
    }

    void attach(const std::string& path, const char* location, int related, const char* kind, Message& m)
    {
        // A folder has nothing to attach: refused like a missing file.
        bool folder = is_folder(path.c_str());
        if (folder || !t_.add_attachment(path.c_str(), location, related)) {
            error_stream << "WARNING: " << kind << " '" << path.c_str() << "' does not exist! ("
                         << (folder ? EISDIR : ENOENT) << ")\r\n";
            return;
        }
        if (!related) {
            run_state().attachment_list.add(string(path.c_str()));
            ++m.attachments;
        }
    }

    bool connect_exchanger(const Message& m)
    {
        string domain = address_domain(m.to.c_str());
        string host;
        int preference = -1;
        List<Server> exchangers;
        if (domain_is_address(domain)) {
            host = domain;
        } else {
            DNS dns;
            prepare_dns(dns);
            int r = -1;
            for (int attempt = 0; attempt < 6 && r <= 0; ++attempt) {
                error_stream << "Trying " << o_.ns_host << "\r\n";
                r = dns.connect(o_.ns_host, string("53"));
            }
            if (r <= 0) {
                error_stream << "Could not connect to Domain Name server: " << o_.ns_host << ", error= " << r << "\r\n";
                return false;
            }
            query_exchangers(dns, domain, exchangers);
            Server first;
            if (!exchangers.take_first(first)) {
                error_stream << "Could not get MX: '" << domain << "'\r\n";
                return false;
            }
            host = first.host;
            preference = first.preference;
        }
        if (!o_.quiet) report_stream << "MX server (" << preference << ") = '" << host << "'\n";
        int retries = o_.retries;
        for (;;) {
            int r = t_.open_connection(host.c_str(), o_.smtp_port.c_str(), nullptr, 0);
            if (r > 0) return true;
            error_stream << "Could not connect to server: " << host << ":" << o_.smtp_port << ", error= " << r
                         << "\r\n";
            if (t_.reply[0]) error_stream << "Status: " << t_.reply << "\r\n";
            if (retries-- > 0) continue;
            Server next;
            if (!exchangers.take_first(next)) return false;
            host = next.host;
            retries = 0;
        }
    }

    void finish(Message& m)
    {
        if (!to_.empty()) {
            m.to = to_.c_str();
            m.cc.clear();
            m.bcc.clear();
        }
        if (!cc_.empty()) {
            m.cc = cc_.c_str();
            m.bcc.clear();
        }
        if (!bcc_.empty()) m.bcc = bcc_.c_str();
        if (!relay_) {
            const char* missing = m.from.empty() ? "Missing from address, line: "
                                  : m.to.empty() ? "Missing to address, line: "
                                  : m.body.empty() ? "Missing message body, line: "
                                                   : nullptr;
            if (missing) {
                error_stream << missing << line_number_ << "\r\n";
                ++outcome_.refused;
                reset(m);
                return;
            }
        }
        bool mx = o_.mx || o_.probe;
        bool connected_here = mx && connect_exchanger(m);
        MessageComposer& c = t_.composer;
        if (m.priority) c.priority = m.priority;
        if (!m.organization.empty()) c.organization = m.organization.c_str();
        if (!m.date.empty()) c.date_text = m.date.c_str();
        if (relay_ && !o_.relay_host.empty() && run_state().transport_kind == TransportKind::news)
            m.body.insert(0, "Newsgroups: " + m.to + "\r\n");
        Envelope e;
        e.from = m.from.c_str();
        e.reply_to = m.reply_to.c_str();
        e.to = m.to.c_str();
        e.cc = m.cc.c_str();
        e.bcc = m.bcc.c_str();
        e.subject = m.subject.c_str();
        bool sent = send_with_summary(t_, e, m.body, count_);
        ++(sent ? outcome_.sent : outcome_.failed);
        t_.clear_attachments(sent && o_.rm);
        reset(m);
        if (connected_here) t_.disconnect();
    }

    void reset(Message& m)
    {
        run_state().attachment_list.clear();
        m = Message();
    }

    bool relay_;
    const std::string& text_;
    int count_;
    string to_, cc_, bcc_;
    const OptionState& o_;
    TpClient& t_;
    static constexpr size_t max_echo = 1024;
    size_t pos_ = 0;
    long line_number_ = 0;
    MessageFileOutcome outcome_;
};

}  // namespace

MessageFileOutcome read_message_file(bool relay, const std::string& text, int count, const string& to,
                                     const string& cc, const string& bcc)
{
    return Reader(relay, text, count, to, cc, bcc).run();
}

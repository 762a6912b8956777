// The receive driver: credentials, connecting and logging in, the count
// and the summary line, the walk over the selected messages (filters,
// retrieval, "-exec:", output, read receipts, relay, deletion), the bulk
// deletion and the end with its transfer summary.
//
// A message is deleted only after everything asked of it succeeded: its
// output and parts were written, its command exited with 0, its relay
// took it. Whatever fails leaves it on the server.
#include "engine/receive_driver.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "base/text_stream.h"
#include "base/text_utils.h"
#include "engine/external_commands.h"
#include "engine/labels.h"
#include "engine/list_server.h"
#include "engine/message_file.h"
#include "engine/message_report.h"
#include "engine/option_state.h"
#include "engine/run_state.h"
#include "engine/send_driver.h"
#include "retrieve/imap_client.h"

namespace {

constexpr size_t max_password = 1023;

int level_number(const OptionState& o) { return static_cast<int>(std::strtol(o.level.c_str(), nullptr, 10)); }

bool uses_certificate(const OptionState& o) { return !o.cert.empty() || level_number(o) >= 2; }

const char* certificate_file(const OptionState& o)
{
    return (o.ssl || o.tls) && !o.cert.empty() ? o.cert.c_str() : nullptr;
}

bool delete_mode(const OptionState& o) { return o.rm || o.unrm; }

// A list file: every message goes to the list server, whole.
bool serves_list(const OptionState& o) { return !o.tolist.empty(); }

// Something asked of each message in turn, which the bulk deletion would
// skip: with any of these the messages go through the loop (and are
// deleted there) even when "-rm" made the run brief and quiet.
bool per_message_work(const OptionState& o)
{
    return !o.pat.empty() || !o.spat.empty() || !o.masq.empty() || !o.alias.empty() || !o.file.empty() ||
           !o.exec.empty() || !o.filter.empty() || !o.harvest.empty() || !o.relay_host.empty() || o.receipt ||
           o.extract || o.bs || !o.move.empty() || !o.copy.empty() || !o.part_name.empty() || serves_list(o);
}

// Something keeps or passes on the whole message: then "-br" must not
// make the reader fetch only its header and first line.
bool whole_message_wanted(const OptionState& o)
{
    return !o.file.empty() || !o.exec.empty() || o.extract || !o.relay_host.empty() || serves_list(o);
}

// One blank-delimited word from standard input into password. A word
// longer than max_password is refused, never cut: false.
bool read_password(string& password)
{
    report_stream << "Password: \r\n";
    report_stream.flush();
    std::string word;
    int c;
    while ((c = std::getchar()) != EOF && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {}
    while (c != EOF && c != ' ' && c != '\t' && c != '\r' && c != '\n') {
        if (word.size() == max_password) {
            report_stream << "\r\n";
            error_stream << "Password longer than " << static_cast<int>(max_password) << " characters\r\n";
            return false;
        }
        word += static_cast<char>(c);
        c = std::getchar();
    }
    report_stream << "\r\n";
    password = word.c_str();
    return true;
}

bool credentials(OptionState& o)
{
    bool certificate = uses_certificate(o);
    if (o.user.empty() && !certificate) {
        error_stream << "Missing userid\r\n";
        return false;
    }
    if (o.pass.empty() && !certificate && !o.web_mode && o.log.empty() && !read_password(o.pass)) return false;
    if (o.pass.empty() && !certificate) {
        error_stream << "Missing password\r\n";
        return false;
    }
    return true;
}

void configure_reader(ReadMail& r, const OptionState& o)
{
    r.timeout = process_state().timeout;
    r.set_buffer_size(o.bufsiz);
    r.debug_level = o.verbose > 1 ? o.verbose : 0;
    r.use_tls = o.ssl;
    r.use_starttls = o.tls;
    r.challenge_auth = o.apop;
    r.firewall_line = o.firewall;
    r.tunnel_host = o.tunnel_host;
    r.tunnel_port = o.tunnel_port;
}

// The first address of an address list ("A <a@x>, b@y" gives a@x).
string first_address(const string& list)
{
    std::string text = list.c_str();
    if (text.find('<') == std::string::npos) text = text.substr(0, text.find(','));
    size_t start = text.find_first_not_of(" \t");
    string address = address_only(start == std::string::npos ? "" : text.c_str() + start);
    return is_valid_address(address.c_str()) ? address : string();
}

struct Summary {
    time_t start_time = time(nullptr);
    clock_t start_clock = clock();
    uint64_t total_bytes = 0;

    void write() const
    {
        long long ms = static_cast<long long>(time(nullptr) - start_time) * 1000;
        if (ms == 0) ms = static_cast<long long>((clock() - start_clock) * 1000 / CLOCKS_PER_SEC);
        if (ms == 0) ms = 1;
        double kbs = static_cast<double>(total_bytes) / 1024.0 / static_cast<double>(ms) * 1000.0;
        report_stream << "Received " << static_cast<long long>(total_bytes) << " bytes in "
                      << format_double(static_cast<double>(ms) / 1000.0).c_str() << " seconds ("
                      << format_double(kbs).c_str() << " KB/s)\r\n";
    }
};

// What became of one message.
enum class Handled {
    done,       // everything asked for was done: it may be deleted
    kept,       // skipped or not fully handled: it stays where it is
    end_loop,   // no more messages
    end_run,    // the run ends with 1 (the reader is disconnected)
};

class ReceiveRun {
public:
    ReceiveRun(OptionState& o, RunState& rs)
        : o_(o), rs_(rs), r_(rs.current_reader()),
          imap_(rs.reader_kind == ReaderKind::imap ? rs.clients->imap.get() : nullptr)
    {
    }

    int run()
    {
        if (!credentials(o_)) return 1;
        Summary summary;
        if (!connect()) return 1;
        if (!log_in()) return 1;
        if (imap_) {
            // A refused folder or ACL operation fails the run: a script or
            // a cron job must not take it for done.
            if (!mailbox_operations()) return 1;
            if (!select_and_wait()) return 1;
            // Messages fetched by number, in turn, with nothing in between.
            bool in_turn = o_.pat.empty() && o_.spat.empty() && o_.masq.empty() && o_.alias.empty() &&
                           !delete_mode(o_) && !uid_mode_ && !o_.bs && o_.part_name.empty() && o_.move.empty() &&
                           o_.copy.empty() && !serves_list(o_);
            imap_->read_ahead_until = in_turn ? o_.first : 0;
        }
        int count = r_.get_message_count();
        o_.message_count = count;
        if (o_.xit) {
            r_.disconnect();
            return count;
        }
        if (summary_wanted())
            report_stream << label("STRING_Thereare") << " " << count << " " << label("STRING_Messageswaiting")
                          << " (" << static_cast<long long>(r_.body_length) << " bytes)\r\n";
        set_parse_flags();
        if (!o_.harvest.empty() && !(harvest_ = std::fopen(o_.harvest.c_str(), "a")))
            error_stream << "Could not open harvest file: '" << o_.harvest << "'\r\n";

        int result = walk(count, summary);
        if (result != 0) return finish(result, summary, false);
        if (!bulk_deletion(count)) return finish(1, summary, true);
        return finish(0, summary, true);
    }

private:
    bool connect()
    {
        const ReaderMode& mode = reader_mode(rs_.reader_kind);
        host_ = o_.*mode.host;
        port_ = rs_.reader_kind == ReaderKind::file ? string() : o_.*mode.port;
        configure_reader(r_, o_);
        // Messages read one after the other with nothing sent between
        // them can be asked for ahead.
        bool in_turn = o_.pat.empty() && o_.spat.empty() && o_.masq.empty() && o_.alias.empty() && !delete_mode(o_);
        if (rs_.reader_kind == ReaderKind::pop3) rs_.clients->pop3->read_ahead_until = in_turn ? o_.first : 0;
        int result = 0;
        for (int attempt = 0; attempt <= o_.retries && attempt >= 0; ++attempt) {
            result = r_.open_connection(host_, port_, certificate_file(o_), level_number(o_));
            if (result > 0) return true;
        }
        error_stream << "Could not connect to: " << host_ << ":" << port_ << ", error= " << result << "\r\n";
        r_.disconnect();
        return false;
    }

    // The ACL and folder options and the listing. False ends the run,
    // after the server's refusal was said on the error stream.
    bool mailbox_operations()
    {
        ImapClient& imap = *imap_;
        const char* box = o_.mbox.c_str();
        auto failed = [this](const char* text) {
            error_stream << text << "\r\n";
            r_.disconnect();
            return false;
        };
        if (o_.getacl) {
            List<string> identifiers, rights;
            if (imap.get_acl(box, identifiers, rights) < 1) return failed("IMAP operation failed");
            string id, right;
            while (identifiers.take_first(id) && rights.take_first(right)) report_stream << id << " " << right << "\r\n";
        }
        if (!o_.deleteacl.empty() && imap.delete_acl(box, o_.deleteacl.c_str()) < 1) return failed("IMAP operation failed");
        if (!o_.setacl.empty()) {
            char identifier[256] = "", rights[256] = "";
            std::sscanf(o_.setacl.c_str(), "%255[^:]:%255s", identifier, rights);
            if (imap.set_acl(box, identifier, rights) < 1) return failed("IMAP operation failed");
        }
        if (!o_.listrights.empty()) {
            string required;
            List<string> optional;
            if (imap.list_rights(box, o_.listrights.c_str(), required, optional) < 1)
                return failed("IMAP operation failed");
            report_stream << required;
            string group;
            while (optional.take_first(group)) report_stream << " " << group;
            report_stream << "\r\n";
        }
        if (o_.myrights) {
            string rights;
            if (imap.my_rights(box, rights) < 1) return failed("IMAP operation failed");
            report_stream << rights << "\r\n";
        }
        if (!o_.create.empty() && imap.create_mailbox(o_.create.c_str()) < 1) return failed("IMAP create folder failed");
        if (!o_.del.empty() && imap.delete_mailbox(o_.del.c_str()) < 1) return failed("IMAP delete folder failed");
        if (!o_.list_pattern.empty()) {
            if (imap.list_mailboxes(o_.list_pattern.c_str(), o_.list_subscribed) < 1)
                return failed("IMAP operation failed");
            string name;
            while (imap.next_mailbox_name(name)) report_stream << name << "\r\n";
        }
        return true;
    }

    // SELECT (with the sizes and UIDs of the messages), IDLE while the
    // mailbox is empty, and the sort or search that picks the messages.
    bool select_and_wait()
    {
        ImapClient& imap = *imap_;
        const char* box = o_.mbox.c_str();
        auto selected = [&] {
            // After a folder operation the mailbox may be gone (the one
            // just deleted): nothing is read from it then.
            if (imap.select_mailbox(box, 0) < 1) {
                if (o_.management_only && imap.connected()) return true;
                error_stream << "Could not select mailbox: '" << o_.mbox << "'\r\n" << imap.reply << "\r\n";
                r_.disconnect();
                return false;
            }
            if (imap.message_count == 0 || imap.fetch_sizes(1, 0) >= 1) return true;
            error_stream << "Could not fetch the message sizes in mailbox: '" << o_.mbox << "'\r\n"
                         << imap.reply << "\r\n";
            r_.disconnect();
            return false;
        };
        if (!selected()) return false;
        if (o_.idle > 0 && imap.message_count == 0 && !o_.xit) {
            if (imap.start_idle() > 0) {
                while (imap.message_count == 0 && imap.idle_wait(o_.idle) >= 0) {}
                imap.end_idle();
                if (!selected()) return false;
            } else {
                // No IDLE here: the mailbox is looked at again every
                // "-idle:" seconds (never more often than once a second).
                while (imap.message_count == 0 && imap.connected()) {
                    imap.wait_readable(o_.idle < 1 ? 1 : o_.idle, 0);
                    if (!selected()) return false;
                }
            }
        }
        if (!o_.sort.empty()) {
            int sorted = imap.sort_messages(o_.sort.c_str(), o_.search.c_str());
            if (sorted < 0) return search_failed();
            // A server without SORT: the search alone picks the messages (in
            // the server's order), never all of them.
            if (sorted == 0 && !o_.search.empty() && imap.search_messages(o_.search.c_str()) < 0)
                return search_failed();
            uid_mode_ = true;
        } else if (!o_.search.empty()) {
            if (imap.search_messages(o_.search.c_str()) < 0) return search_failed();
            uid_mode_ = true;
        }
        return true;
    }

    bool search_failed()
    {
        error_stream << "IMAP search failed\r\n" << imap_->reply << "\r\n";
        r_.disconnect();
        return false;
    }

    bool log_in()
    {
        if (o_.preauth || uses_certificate(o_)) return true;
        if (r_.login(o_.user.c_str(), o_.pass.c_str()) >= 1) return true;
        error_stream << "Could not log in as '" << o_.user << "' to: " << host_ << ":" << port_ << "\r\n"
                     << r_.reply << "\r\n";
        r_.disconnect();
        return false;
    }

    bool summary_wanted() const
    {
        return (!o_.html || o_.brief) && o_.list_pattern.empty() && !o_.raw && !delete_mode(o_) && o_.masq.empty() &&
               (!o_.quiet || o_.brief);
    }

    void set_parse_flags()
    {
        r_.decode_headers = o_.dh;
        r_.raw_mode = o_.raw;
        r_.purge = o_.purge;
        r_.force_unfold = !o_.relay_host.empty();
        r_.extract_parts = o_.extract && !o_.raw ? 1 : 0;
        r_.prefer_html = o_.html;
        r_.retrieve_mode = o_.brief && !whole_message_wanted(o_) ? 1 : 0;
    }

    bool bulk_deletes() const { return delete_mode(o_) && o_.brief && o_.quiet && !per_message_work(o_); }

    int walk(int count, Summary& summary)
    {
        int first = o_.msg_number;
        if (count < first || bulk_deletes() || o_.management_only || o_.purge) return 0;
        for (int n = first < 1 ? 1 : first; n <= o_.first && n <= count; ++n) {
            ++sequence_;
            switch (handle(n, summary)) {
            case Handled::done:
                if (delete_mode(o_) && !delete_one(n)) return 1;
                break;
            case Handled::kept: break;
            case Handled::end_loop: return 0;
            case Handled::end_run: return 1;
            }
            if (n == INT32_MAX) break;
        }
        return 0;
    }

    // The filters of "-masq:"/"-alias:", "-pat:"/"-nopat:", "-spat:"/"-nospat:".
    Handled filter(int n)
    {
        bool by_to = !o_.masq.empty() || !o_.alias.empty();
        if (!by_to && o_.pat.empty() && o_.spat.empty()) return Handled::done;
        int got = headers(n);
        if (got < 1) {
            // A header that could not be had: the loop ends, unless the
            // connection went with it, which the run must not call success.
            if (got < 0 && r_.connected()) return Handled::end_loop;
            return retrieval_failed(n, got);
        }
        if (by_to) {
            string to = r_.to_or_unknown();
            bool found = false;
            if (!o_.alias.empty()) translate_address_list(to.c_str(), found);
            if (!found && !o_.masq.empty()) found = count_display_name_matches(to.c_str(), o_.masq.c_str()) != 0;
            if (!found) return Handled::kept;
        }
        if (!o_.pat.empty() &&
            match_pattern(r_.subject_or_default().c_str(), o_.pat.c_str(), true, true) == (o_.pat_negative != 0))
            return Handled::kept;
        if (!o_.spat.empty() &&
            match_pattern(r_.sender().c_str(), o_.spat.c_str(), true, true) == (o_.spat_negative != 0))
            return Handled::kept;
        return Handled::done;
    }

    Handled retrieval_failed(int n, int result)
    {
        error_stream << "Could not retrieve message (" << n << "/" << static_cast<long long>(uid_mode_ ? id_of(n) : n)
                     << "), error= " << result << "\r\n";
        r_.disconnect();
        return Handled::end_run;
    }

    // The header of message n: in UID mode of the n-th result, by its UID.
    int headers(int n) { return uid_mode_ ? imap_->retrieve_headers_uid(id_of(n)) : r_.retrieve_headers(n); }

    // The message's size: in UID mode that of the UID the search gave.
    int size_of(int n) const { return uid_mode_ ? imap_->uid_size(id_of(n)) : r_.message_size(n); }

    // The message's UID in UID mode, else its number.
    uint32_t id_of(int n) const
    {
        return uid_mode_ ? static_cast<uint32_t>(imap_->result_uid(n)) : static_cast<uint32_t>(n);
    }

    // "-bs": a line for each part on standard output, nothing else.
    Handled body_structure(int n)
    {
        int got = uid_mode_ ? imap_->fetch_structure_uid(id_of(n)) : imap_->fetch_structure(n);
        if (got < 1) return retrieval_failed(n, got);
        report_stream.flush();
        imap_part part;
        while (imap_->parts.take_first(part)) {
            // The name parameter, or else the file name of the disposition.
            const string& name = part.name.empty() ? part.filename : part.name;
            std::printf("part:%s,MIME=%s,charset=%s,encoding=%s,%s,name=%s,size=%lld\n", part.part_number.c_str(),
                        part.content_type.c_str(), part.charset.c_str(), part.encoding.c_str(),
                        part.disposition.c_str(), name.c_str(), static_cast<long long>(part.size));
        }
        std::fflush(stdout);
        return Handled::kept;
    }

    void move_or_copy(int n)
    {
        ImapClient& imap = *imap_;
        for (const string* target : {&o_.move, &o_.copy}) {
            if (target->empty()) continue;
            bool move = target == &o_.move;
            int r = uid_mode_ ? (move ? imap.move_uid(id_of(n), target->c_str()) : imap.copy_uid(id_of(n), target->c_str(), 0))
                              : (move ? imap.move_message(n, target->c_str()) : imap.copy_message(n, target->c_str(), 0));
            if (r < 1) {
                error_stream << "Could not " << (move ? "move" : "copy") << " message " << n << " to '" << *target
                             << "', error= " << r << "\r\n";
                handled_all_ = false;
            }
        }
    }

    int fetch(int n)
    {
        if (!o_.part_name.empty()) {
            if (!imap_) return r_.retrieve(n);
            int got = headers(n);
            if (got < 1) return got;
            const char* encoding = o_.encoding.c_str();
            return uid_mode_ ? imap_->fetch_part_uid(id_of(n), o_.part_name.c_str(), encoding, o_.part_n, o_.part_m)
                             : imap_->fetch_part(n, o_.part_name.c_str(), encoding, o_.part_n, o_.part_m);
        }
        return uid_mode_ ? imap_->retrieve_uid(id_of(n)) : r_.retrieve(n);
    }

    Handled handle(int n, Summary& summary)
    {
        Handled passed = filter(n);
        if (passed != Handled::done) return passed;
        if (imap_ && o_.bs) return body_structure(n);
        if (imap_) move_or_copy(n);
        int got = fetch(n);
        if (got < 1) return retrieval_failed(n, got);
        if (!o_.filter.empty()) return Handled::kept;
        if (!o_.exec.empty()) {
            bool ran = pipe_to_command(o_.exec, r_.text(), static_cast<size_t>(r_.body_length), true);
            if (!ran) handled_all_ = false;
            return ran ? Handled::done : Handled::kept;
        }
        summary.total_bytes += static_cast<uint64_t>(size_of(n));
        return report(n);
    }

    // The message as the user sees it; the run ends when a receipt or the
    // relay cannot be connected.
    Handled report(int n)
    {
        if (serves_list(o_)) return served(list_.serve_list_message(r_));
        if (!o_.raw && !o_.quiet) report_stream << sequence_ << ". ";
        copy_message_fields(r_);
        string reply_address = r_.reply_address();
        if (harvest_ && !reply_address.empty() && reply_address != "[unknown]")
            std::fprintf(harvest_, "%s\r\n", reply_address.c_str());
        if (!o_.sep.empty() && o_.file.empty()) report_stream << o_.sep << "\n";
        if (!o_.reply && !o_.forward && !o_.raw && !o_.quiet &&
            !write_header_lines(r_, size_of(n), [this] { return read_receipt(); }))
            return Handled::end_run;
        if (!o_.brief && !o_.raw && !o_.quiet) report_stream << "\r\n";
        ReportOutcome outcome = write_message_body(r_, output_);
        if (outcome.pgp_failed) pgp_failed_ = true;
        Handled handled = outcome.stored ? Handled::done : Handled::kept;
        if (!outcome.stored) handled_all_ = false;
        if (o_.file.empty() && !o_.relay_host.empty()) handled = relay();
        if (!o_.quiet) report_stream << "\r\n";
        return handled;
    }

    // The list server's outcome as the loop takes it.
    Handled served(ListOutcome outcome)
    {
        if (outcome == ListOutcome::kept) handled_all_ = false;
        return outcome == ListOutcome::handled ? Handled::done
               : outcome == ListOutcome::kept  ? Handled::kept
                                               : Handled::end_run;
    }

    int connect_transport(TpClient& t, const string& host, string& port)
    {
        const TransportMode& mode = transport_mode(o_.news ? TransportKind::news : TransportKind::smtp);
        port = o_.*mode.port;
        return t.open_connection(host.c_str(), port.c_str(), certificate_file(o_), level_number(o_));
    }

    // "-mdn" when the message asks for one, "-receipt" always: one empty
    // message "Read: <subject> (RECEIPT)" to the notification address or
    // the sender, from the address the message was sent to.
    bool read_receipt()
    {
        string notify = r_.notification_address();
        if (!((o_.receipt == 1 && !notify.empty()) || o_.receipt == 2)) return true;
        TpClient& t = rs_.current_transport();
        const TransportMode& mode = transport_mode(o_.news ? TransportKind::news : TransportKind::smtp);
        string host = o_.*mode.host, port;
        int r = connect_transport(t, host, port);
        if (r < 0) {
            error_stream << "Could not connect to: " << host << ":" << port << ", error= " << r << "\r\n";
            r_.disconnect();
            return false;
        }
        Envelope e;
        e.from = first_address(r_.to_or_unknown());
        e.to = notify.empty() ? r_.sender() : notify;
        e.subject = string("Read: ") + r_.subject_or_default() + " (RECEIPT)";
        if (e.from.empty()) {
            error_stream << "Could not send the read receipt: the message names no address it was sent to\r\n";
        } else {
            int quiet = o_.quiet;
            o_.quiet = 1;
            send_with_summary(t, e, std::string(), 1);
            o_.quiet = quiet;
        }
        t.disconnect();
        return true;
    }

    // The message as received, to the relay host: through the message file
    // reader, which takes the envelope from its header (and the "-to:"
    // given for the run, when there is one).
    Handled relay()
    {
        TpClient& t = rs_.current_transport();
        string port;
        int r = connect_transport(t, o_.relay_host, port);
        if (r < 0) {
            error_stream << "Could not connect to relay: " << o_.relay_host << ":" << port << ", error= " << r << "\r\n";
            r_.disconnect();
            return Handled::end_run;
        }
        std::string text(r_.text(), static_cast<size_t>(r_.body_length));
        MessageFileOutcome sent = read_message_file(true, text, o_.cnt, o_.saved_to, string(), string());
        if (!sent.all_sent() || t.complete() <= 0) {
            error_stream << "Could not send to relay: " << o_.relay_host << ":" << port << ", error= -1\r\n";
            t.disconnect();
            if (o_.ns) return Handled::kept;
            r_.disconnect();
            return Handled::end_run;
        }
        t.disconnect();
        return Handled::done;
    }

    bool delete_one(int n)
    {
        if (!o_.quiet)
            report_stream << label(o_.unrm ? "STRING_UnDeletemessage" : "STRING_Deletemessage") << n << "\r\n";
        int r = uid_mode_ ? (o_.unrm ? imap_->undelete_uid(id_of(n)) : imap_->delete_uid(id_of(n)))
                          : (o_.unrm ? r_.undelete_message(n) : r_.delete_message(n));
        if (r >= 1) return true;
        error_stream << "Could not delete message, error= " << r << "\r\n";
        r_.disconnect();
        return false;
    }

    // The results are not checked, but a server connection that has gone
    // takes no more deletions and carries out none of those sent: the
    // deletion stops there and the run fails (false).
    bool bulk_deletion(int count)
    {
        if (!bulk_deletes()) return true;
        bool networked = rs_.reader_kind != ReaderKind::file;
        int last = count < o_.first ? count : o_.first;
        // In UID mode the messages are the results of the search: each is
        // deleted by its UID, and the line names the UID.
        for (int n = o_.msg_number < 1 ? 1 : o_.msg_number; n <= last; ++n) {
            if (networked && !r_.connected()) {
                error_stream << "Could not delete message, error= -1\r\n";
                return false;
            }
            report_stream << label(o_.unrm ? "STRING_UnDeletemessage" : "STRING_Deletemessage") << " "
                          << static_cast<long long>(id_of(n)) << "\r\n";
            if (uid_mode_) {
                if (o_.unrm) imap_->undelete_uid(id_of(n));
                else imap_->delete_uid(id_of(n));
            } else if (o_.unrm) {
                r_.undelete_message(n);
            } else {
                r_.delete_message(n);
            }
            if (n == INT32_MAX) break;
        }
        return true;
    }

    int finish(int result, const Summary& summary, bool disconnect)
    {
        if (harvest_ && std::fclose(harvest_) != 0) {
            error_stream << "Could not write harvest file: '" << o_.harvest << "'\r\n";
            result = 1;
        }
        harvest_ = nullptr;
        if (!output_.close()) result = result ? result : 1;
        if (disconnect) r_.disconnect();
        if (result != 0) return result;
        if (o_.kbs) summary.write();
        return pgp_failed_ || !handled_all_ ? 1 : 0;
    }

    OptionState& o_;
    RunState& rs_;
    ReadMail& r_;
    ImapClient* imap_;  // the reader when it is the IMAP one
    bool uid_mode_ = false;
    string host_, port_;
    FILE* harvest_ = nullptr;
    OutputFile output_;
    int sequence_ = 0;
    bool pgp_failed_ = false, handled_all_ = true;
    // With "-tolist:", the list server (it writes the list file itself,
    // after each change).
    ListServer list_{o_, rs_, [this](TpClient& t, const string& host, string& port) {
                         return connect_transport(t, host, port);
                     }};
};

}  // namespace

int receive_mail() { return ReceiveRun(options(), run_state()).run(); }

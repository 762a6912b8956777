// The list server's steps, in the order a message goes through them:
// help, the subscription commands, failure reports, then the file index,
// file requests and posts with the open and private modes.
#include "engine/list_server.h"

#include <cstring>

#include "base/text_stream.h"
#include "base/text_utils.h"
#include "engine/client_modes.h"
#include "engine/failure_report.h"
#include "engine/fetch_folder.h"
#include "engine/send_driver.h"
#include "platform/nocase.h"
#include "platform/paths.h"

namespace {

// The longest address a message can be sent to.
constexpr size_t max_address = 254;

struct CommandReply {
    const char* subject;
    const char* changed;    // the body when the message changed the list
    const char* unchanged;  // the body when it did not
};

const CommandReply subscribe_reply = {
    "RE: subscribe", "To be removed from this list reply to this message with a subject of just 'unsubscribe'",
    "You are already subscribed!"};
const CommandReply unsubscribe_reply = {
    "RE: unsubscribe", "To be added back to this list reply to this message with a subject of just 'subscribe'",
    "You were not subscribed!"};

const char* const index_subjects[] = {"dir", "index", "fetch index"};
const char* const fetch_subjects[] = {"fetch ", "get "};

bool begins_with(const std::string& text, const char* prefix)
{
    return nocase_compare_n(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

template <size_t N>
bool begins_with_any(const std::string& text, const char* const (&prefixes)[N])
{
    for (const char* p : prefixes)
        if (begins_with(text, p)) return true;
    return false;
}

bool same_address(const std::string& a, const std::string& b)
{
    return !a.empty() && a.size() == b.size() && nocase_compare_n(a.data(), b.data(), a.size()) == 0 &&
           a.find('\0') == std::string::npos;
}

std::string address_of(const std::string& text) { return address_only(text.c_str()).c_str(); }

}  // namespace

std::string without_controls(const char* bytes, size_t length)
{
    std::string text(bytes ? bytes : "", bytes ? length : 0);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return text;
}

bool plain_address(const std::string& address)
{
    if (address.empty() || address.size() > max_address) return false;
    if (std::strchr("#!-.@", address[0])) return false;
    for (unsigned char c : address)
        if (c <= 0x20 || c == 0x7f || std::strchr(",;:\"<>()[]\\/|", c)) return false;
    size_t at = address.find('@');
    if (at == std::string::npos || address.find('@', at + 1) != std::string::npos) return false;
    return is_valid_address(address.c_str());
}

ListServer::ListServer(OptionState& options, RunState& run, Connector connect)
    : o_(options), rs_(run), connect_(std::move(connect))
{
}

ListOutcome ListServer::serve_list_message(ReadMail& reader)
{
    r_ = &reader;
    if (!loaded_) {
        // A list that could not be read must not be written over.
        if (!list_.read(o_.tolist.c_str())) {
            error_stream << "Could not read list file: '" << o_.tolist << "'\r\n";
            reader.disconnect();
            return ListOutcome::end_run;
        }
        loaded_ = true;
    }
    ListOutcome outcome = serve();
    r_ = nullptr;
    return outcome;
}

ListOutcome ListServer::serve()
{
    ReadMail& r = *r_;
    string sender = r.sender();
    sender_ = without_controls(sender.c_str(), sender.length());
    o_.from = sender_.c_str();
    string reply_address = r.reply_address();
    o_.replyto = without_controls(reply_address.c_str(), reply_address.length()).c_str();
    address_ = address_of(sender_);
    string decoded = url_decode(r.subject_or_default().c_str());
    subject_ = without_controls(decoded.c_str(), decoded.length());
    o_.subject = subject_.c_str();
    if (o_.listserv.empty()) o_.listserv = o_.user + "@" + o_.smtp_host;

    if (begins_with(subject_, "help")) return ListOutcome::handled;
    if (!o_.manual) {
        if (begins_with(subject_, "subscribe")) return subscribe();
        if (begins_with(subject_, "unsubscribe")) return unsubscribe();
        if (is_failure_report(subject_.c_str(), sender_.c_str())) return failure_report();
    }
    return command_or_post();
}

ListOutcome ListServer::subscribe()
{
    if (same_address(address_of(o_.listserv.c_str()), address_)) {
        log(ListEvent::circular, address_);
        return ListOutcome::handled;
    }
    if (!replyable()) return ListOutcome::handled;
    SubscriberList before = list_;
    bool changed = list_.subscribe(address_);
    if (changed && !commit(before)) return ListOutcome::kept;
    ListOutcome sent = reply(subscribe_reply.subject, changed ? subscribe_reply.changed : subscribe_reply.unchanged);
    if (sent == ListOutcome::end_run) return sent;
    log(changed ? ListEvent::subscribed : ListEvent::subscribe_ignored, address_);
    return sent;
}

ListOutcome ListServer::unsubscribe()
{
    if (!replyable()) return ListOutcome::handled;
    SubscriberList before = list_;
    bool changed = list_.unsubscribe(address_);
    if (changed && !commit(before)) return ListOutcome::kept;
    ListOutcome sent =
        reply(unsubscribe_reply.subject, changed ? unsubscribe_reply.changed : unsubscribe_reply.unchanged);
    if (sent == ListOutcome::end_run) return sent;
    log(changed ? ListEvent::unsubscribed : ListEvent::unsubscribe_ignored, address_);
    return sent;
}

ListOutcome ListServer::failure_report()
{
    std::string text = report_text();
    FailureReport report = read_failure_report(text.c_str());
    if (!report.has_action) {
        // Passed on to the owner, who sees what the list could not read.
        ListOutcome sent = ListOutcome::handled;
        if (!o_.owner.empty()) {
            string own_subject = r_->subject_or_default();
            Envelope e;
            e.from = o_.listserv;
            e.reply_to = o_.owner;
            e.to = o_.owner;
            e.subject = without_controls(own_subject.c_str(), own_subject.length()).c_str();
            sent = deliver(e, text, {});
            if (sent == ListOutcome::end_run) return sent;
        }
        log(ListEvent::bounce_forwarded, text);
        return sent;
    }
    if (report.failed && !report.recipient.empty()) {
        SubscriberList before = list_;
        if (list_.unsubscribe(report.recipient) && !commit(before)) return ListOutcome::kept;
        log(ListEvent::bounce_unsubscribed, report.recipient);
        return ListOutcome::handled;
    }
    log(ListEvent::bounce_ignored, text);
    return ListOutcome::handled;
}

ListOutcome ListServer::command_or_post()
{
    bool member = list_.is_subscriber(address_);
    std::string unknown = address_ + " ... '" + subject_ + "'";
    if (!o_.open && !member) {
        log(ListEvent::unknown, unknown);
        return ListOutcome::handled;
    }
    if (begins_with_any(subject_, index_subjects)) return file_index();
    if (begins_with_any(subject_, fetch_subjects)) return file_request();
    if (o_.open && !member) {
        log(ListEvent::unknown, unknown);
        return ListOutcome::handled;
    }
    if (o_.priv && !same_address(address_of(o_.owner.c_str()), address_)) {
        log(ListEvent::post_refused, address_ + " (" + subject_ + ")");
        return ListOutcome::handled;
    }
    return post();
}

ListOutcome ListServer::file_index()
{
    std::string line = subject_ + " from " + address_;
    if (o_.fetch.empty()) {
        log(ListEvent::index, line);
        return ListOutcome::handled;
    }
    if (!replyable()) return ListOutcome::handled;
    ListOutcome sent = reply("RE: " + subject_, file_index_text(o_.fetch.c_str()));
    if (sent == ListOutcome::end_run) return sent;
    log(ListEvent::index, line);
    return sent;
}

ListOutcome ListServer::file_request()
{
    if (o_.fetch.empty()) {
        log(ListEvent::fetch, subject_ + " who " + sender_);
        return ListOutcome::handled;
    }
    if (!replyable()) return ListOutcome::handled;
    FetchRequest request = fetch_request(subject_);
    std::string text, shown;
    std::vector<std::string> files;
    std::string path = request.refused || request.name.empty() ? std::string()
                                                                : fetch_path(o_.fetch.c_str(), request.name);
    if (request.refused) {
        text = "SORRY, can't do that: " + request.name;
        shown = subject_;
    } else if (!path.empty() && is_plain_file(path.c_str())) {
        // Only a plain file: a folder or a pipe is no file to send.
        text = shown = "OK - '" + request.name + "'";
        files.push_back(path);
    } else {
        text = shown = "UNKNOWN FILE - '" + request.name + "'";
    }
    ListOutcome sent = reply("RE: " + subject_, text, files);
    if (sent == ListOutcome::end_run) return sent;
    log(ListEvent::fetch, shown + " who " + sender_);
    return sent;
}

std::string ListServer::report_text()
{
    ReadMail& r = *r_;
    std::string text(r.text(), static_cast<size_t>(r.body_length));
    while (const char* data = r.next_attachment()) {
        if (!r.attachment_filename().empty()) continue;
        if (!text.empty()) text += "\r\n";
        text.append(data, static_cast<size_t>(r.body_length));
    }
    return text;
}

bool ListServer::commit(const SubscriberList& before)
{
    if (write_list_file(list_, o_.tolist.c_str())) return true;
    list_ = before;
    return false;
}

bool ListServer::replyable()
{
    if (plain_address(address_)) return true;
    log(ListEvent::sender_refused, address_ + " ... '" + subject_ + "'");
    return false;
}

ListOutcome ListServer::reply(const std::string& subject, const std::string& body,
                              const std::vector<std::string>& files)
{
    Envelope e;
    e.from = o_.listserv;
    e.to = address_.c_str();
    e.subject = subject.c_str();
    return deliver(e, body, files);
}

ListOutcome ListServer::deliver(const Envelope& envelope, const std::string& body,
                                const std::vector<std::string>& files)
{
    TpClient& t = rs_.current_transport();
    const TransportMode& mode = transport_mode(o_.news ? TransportKind::news : TransportKind::smtp);
    string host = o_.*mode.host, port;
    int r = connect_(t, host, port);
    if (r < 1) {
        error_stream << "Could not connect to server: " << host << ":" << port << ", error= " << r << "\r\n";
        t.disconnect();
        r_->disconnect();
        return ListOutcome::end_run;
    }
    // The files count in this message's summary only.
    List<string> counted = rs_.attachment_list;
    bool attached = true;
    for (const std::string& file : files) {
        if (!t.add_attachment(file.c_str(), "", 0)) {
            error_stream << "Could not attach file: '" << file.c_str() << "'\r\n";
            attached = false;
            break;
        }
        rs_.attachment_list.add(file.c_str());
    }
    bool sent = attached && send_with_summary(t, envelope, body, 1);
    t.disconnect();
    rs_.attachment_list = counted;
    return sent ? ListOutcome::handled : ListOutcome::kept;
}

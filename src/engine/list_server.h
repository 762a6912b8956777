// The list server: a receive run with a list file ("-tolist:") hands every
// message of the list's mailbox here. Its subject is read as a command
// (help, subscribe, unsubscribe, fetch or get a file, dir or index), a
// delivery-failure report marks the failed subscriber, and anything else
// is a post, sent on to every subscriber. Replies and posts leave through
// the current transport, one connection each. A reply goes to the sender's
// address alone, and only when that is one plain address. Header texts
// taken from the message (sender, subject) have their control characters
// turned into blanks, so no decoded CR LF can add a header or a log line.
//
// A change to the list is written to the list file at once, before any
// reply says so and before the message can be deleted: a run that ends
// early, or a crash, loses no subscription that was confirmed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/text_string.h"
#include "engine/list_file.h"
#include "engine/list_log.h"
#include "engine/option_state.h"
#include "engine/run_state.h"
#include "retrieve/read_mail.h"
#include "send/message_composer.h"
#include "send/tp_client.h"

enum class ListOutcome {
    handled,  // done with: the deletion step may follow
    kept,     // a reply, a post or the list file could not be written: the message stays
    end_run,  // the transport could not be connected: the run ends with 1 (the reader is disconnected)
};

class ListServer {
public:
    // Connects the transport to host, setting port to the port tried; a
    // result above 0 is a connection.
    using Connector = std::function<int(TpClient& transport, const string& host, string& port)>;

    ListServer(OptionState& options, RunState& run, Connector connect);

    // Handles the message the reader retrieved last.
    ListOutcome serve_list_message(ReadMail& reader);

private:
    ListOutcome serve();
    ListOutcome subscribe();
    ListOutcome unsubscribe();
    ListOutcome failure_report();
    ListOutcome command_or_post();
    ListOutcome file_index();
    ListOutcome file_request();
    ListOutcome post();  // list_post.cpp

    // The body with the text of every part that has no file name.
    std::string report_text();
    // Writes the list after a change; false (the change undone) when the
    // file could not be written.
    bool commit(const SubscriberList& before);
    // The sender may get a reply: one plain address. Otherwise the
    // message is refused with a log line.
    bool replyable();
    // A reply from the list address to the sender.
    ListOutcome reply(const std::string& subject, const std::string& body,
                      const std::vector<std::string>& files = {});
    // One message through the current transport, with files attached.
    ListOutcome deliver(const Envelope& envelope, const std::string& body, const std::vector<std::string>& files);
    void log(ListEvent event, const std::string& detail) const { list_log(event, o_.user, detail); }

    OptionState& o_;
    RunState& rs_;
    Connector connect_;
    SubscriberList list_;
    bool loaded_ = false;

    // The message being handled
    ReadMail* r_ = nullptr;
    std::string sender_;   // the sender text, without control characters
    std::string address_;  // its address (A)
    std::string subject_;  // decoded, without control characters
};

// Whether address is one plain address that mail may be sent to: no
// blanks, control characters, separators of an address list, quotes,
// brackets or path characters, and of the form local@domain.name.
bool plain_address(const std::string& address);

// The text with every control character (CR and LF too) turned into a blank.
std::string without_controls(const char* bytes, size_t length);

// The list server's log lines: one for each message it handled (but a
// "help" request), each beginning with the list's user name.
#pragma once

#include <string>

#include "base/text_string.h"

enum class ListEvent {
    circular,
    subscribed,
    subscribe_ignored,
    unsubscribed,
    unsubscribe_ignored,
    bounce_unsubscribed,
    bounce_forwarded,
    bounce_ignored,
    unknown,
    fetch,
    index,
    distribution,
    post_refused,
    sender_refused,
};

// The user name, the event's text and detail, and the line end of the
// event's stream (report stream, error stream or standard output).
void list_log(ListEvent event, const string& user, const std::string& detail);

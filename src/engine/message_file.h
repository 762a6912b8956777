// The message description file reader ("-import", "-relay", "-t").
#pragma once

#include <string>

#include "base/text_string.h"

struct MessageFileOutcome {
    int sent = 0;     // messages sent
    int refused = 0;  // messages that failed their checks (no from, to or body)
    int failed = 0;   // messages whose sending failed
    // Every message described went out, and there was one.
    bool all_sent() const { return sent > 0 && refused == 0 && failed == 0; }
};

// Sends the messages the text describes (relay: the one message it is).
MessageFileOutcome read_message_file(bool relay, const std::string& text, int count, const string& to,
                                     const string& cc, const string& bcc);

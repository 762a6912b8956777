// The message description file reader ("-import", "-relay", "-t").
#pragma once

#include <string>

#include "base/text_string.h"

// Sends the messages the text describes (relay: the one message it is).
// Returns how many were sent plus how many failed their checks.
int read_message_file(bool relay, const std::string& text, int count, const string& to, const string& cc,
                      const string& bcc);

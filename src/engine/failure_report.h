// Delivery-failure reports that come back to the list's mailbox: which
// messages are taken for one, and which recipient one says has failed.
#pragma once

#include <string>

#include "base/text_string.h"

// The subject begins with "Returned mail" or "Undeliverable", or the sender
// begins with "Mail delivery" or holds "MAILER-DAEMON" (all without case).
bool is_failure_report(const string& subject, const string& sender);

struct FailureReport {
    bool has_action = false;  // an "Action:" label
    bool failed = false;      // its value is "failed"
    std::string recipient;    // the address after "Final-Recipient:", or empty
};

// Reads the report's text: the value behind the first "Action:", and the
// address behind the first "Final-Recipient:" (blanks and an "RFC822;"
// skipped, the rest of the line, at most 1023 characters, reduced to the
// address). Labels are found without case.
FailureReport read_failure_report(const char* text);

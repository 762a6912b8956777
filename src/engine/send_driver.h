// The send driver.
#pragma once

#include <string>

#include "send/tp_client.h"

// 0 when the message (or ETRN) was handled, 1 after any failure.
int send_mail();

// Sends the message count times through the transport, with a summary line
// for each; false after the first failure.
bool send_with_summary(TpClient& transport, const char* from, const char* reply_to, const char* to, const char* cc,
                       const char* bcc, const char* subject, const std::string& body, int count,
                       const char* errors_to, const char* content_base);

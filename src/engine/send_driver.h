// The send driver.
#pragma once

#include <string>

#include "send/tp_client.h"

// 0 when the message (or ETRN) was handled, 1 after any failure.
int send_mail();

// Sends the message count times through the transport, with a summary line
// for each; false after the first failure.
bool send_with_summary(TpClient& transport, const Envelope& envelope, const std::string& body, int count);

// A real number as the report stream writes one by default ("%g").
std::string format_double(double v);

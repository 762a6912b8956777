// Hands the options to the client objects: the current transport's
// connection and composition settings, and the SMTP client's own.
#pragma once

#include "send/smtp_client.h"
#include "send/tp_client.h"

void configure_transport(TpClient& transport);
void configure_smtp(SmtpClient& smtp);
// Both, for the run's current transport and its SMTP client.
void configure_clients();

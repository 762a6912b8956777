// Hands the composition settings of the options to a transport.
#pragma once

#include "send/tp_client.h"

void configure_transport(TpClient& transport);

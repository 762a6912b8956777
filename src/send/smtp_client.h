// The SMTP transport.
#pragma once

#include "send/tp_client.h"

class MySmtpClient : public MeteredTransport {
public:
    using MeteredTransport::MeteredTransport;
    const char* kind() const override { return "SMTP"; }
};

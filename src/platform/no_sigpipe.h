// Writing to a connection the peer has closed must fail, not end the
// process. Plain sockets send with MSG_NOSIGNAL; writes made for us by a
// library (TLS records) run inside a NoSigpipe, which holds SIGPIPE back
// for the calling thread and drops one that was raised meanwhile, without
// changing what the rest of the process (or a host that loaded us) does
// with the signal.
#pragma once

#include <signal.h>

class NoSigpipe {
public:
    NoSigpipe();
    ~NoSigpipe();
    NoSigpipe(const NoSigpipe&) = delete;
    NoSigpipe& operator=(const NoSigpipe&) = delete;

private:
    sigset_t saved_;
    bool was_pending_ = false;
};

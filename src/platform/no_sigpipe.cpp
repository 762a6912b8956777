#include "platform/no_sigpipe.h"

#include <pthread.h>
#include <time.h>

namespace {

sigset_t only_sigpipe()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool sigpipe_pending()
{
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

NoSigpipe::NoSigpipe()
{
    was_pending_ = sigpipe_pending();
    sigset_t set = only_sigpipe();
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

NoSigpipe::~NoSigpipe()
{
    if (!was_pending_ && sigpipe_pending()) {
        sigset_t set = only_sigpipe();
        struct timespec zero = {0, 0};
        sigtimedwait(&set, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

#include "engine/drivers.h"

#include "engine/run_state.h"
#include "engine/text_stream.h"

// Neither driver is part of this build yet: a run that needs one fails and
// says so, rather than pretending to have sent or received anything.
int send_driver()
{
    error_stream << "Could not send: the " << run_state().current_transport->kind()
                 << " transport is not available in this build\r\n";
    return 1;
}

int receive_driver()
{
    error_stream << "Could not receive: the " << run_state().current_reader->kind()
                 << " reader is not available in this build\r\n";
    return 1;
}

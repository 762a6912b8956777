#include "engine/drivers.h"

#include "engine/run_state.h"
#include "base/text_stream.h"

#include "engine/send_driver.h"

int send_driver() { return send_mail(); }

// The receive driver is not part of this build yet: a run that needs it
// fails and says so, rather than pretending to have received anything.
int receive_driver()
{
    error_stream << "Could not receive: the " << run_state().current_reader().kind()
                 << " reader is not available in this build\r\n";
    return 1;
}

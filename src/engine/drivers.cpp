#include "engine/drivers.h"

#include "engine/run_state.h"
#include "base/text_stream.h"

#include "engine/receive_driver.h"
#include "engine/send_driver.h"

int send_driver() { return send_mail(); }

// The IMAP reader is not in this build yet; a run that needs it fails and
// says so, rather than pretending to have received anything.
int receive_driver()
{
    if (run_state().reader_kind != ReaderKind::imap) return receive_mail();
    error_stream << "Could not receive: the " << run_state().current_reader().kind()
                 << " reader is not available in this build\r\n";
    return 1;
}

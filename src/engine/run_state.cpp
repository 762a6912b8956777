#include "engine/run_state.h"

ClientObjects::ClientObjects(const string& meter_file)
    : smtp(new MySmtpClient(meter_file)),
      news(new MyNntpClient(meter_file)),
      imap_upload(new MyImaptpClient(meter_file)),
      file(new FiletpClient),
      pop3(new PopClient),
      file_reader(new FileClient),
      imap(new ImapClient)
{
}

RunState& run_state()
{
    static RunState state;
    return state;
}

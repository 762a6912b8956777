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

TpClient& ClientObjects::transport(TransportKind kind)
{
    switch (kind) {
    case TransportKind::news: return *news;
    case TransportKind::imap_upload: return *imap_upload;
    case TransportKind::file: return *file;
    case TransportKind::smtp: break;
    }
    return *smtp;
}

ReadMail& ClientObjects::reader(ReaderKind kind)
{
    switch (kind) {
    case ReaderKind::imap: return *imap;
    case ReaderKind::file: return *file_reader;
    case ReaderKind::pop3: break;
    }
    return *pop3;
}

RunState& run_state()
{
    static RunState state;
    return state;
}

void select_transport(TransportKind kind) { run_state().transport_kind = kind; }

void select_reader(ReaderKind kind) { run_state().reader_kind = kind; }

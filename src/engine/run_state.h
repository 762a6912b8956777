// The engine's run state: the client objects of one engine_main call, the
// kinds of transport and reader in use, and the run lists.
#pragma once

#include <memory>

#include "base/lists.h"
#include "base/text_string.h"
#include "engine/client_modes.h"
#include "retrieve/imap_client.h"
#include "retrieve/read_mail.h"
#include "send/file_transport.h"
#include "send/imaptp_client.h"
#include "send/nntp_client.h"
#include "send/smtp_client.h"
#include "send/tp_client.h"

struct ClientObjects {
    explicit ClientObjects(const string& meter_file);
    TpClient& transport(TransportKind kind);
    ReadMail& reader(ReaderKind kind);

    std::unique_ptr<MySmtpClient> smtp;
    std::unique_ptr<MyNntpClient> news;
    std::unique_ptr<MyImaptpClient> imap_upload;
    std::unique_ptr<FiletpClient> file;
    std::unique_ptr<PopClient> pop3;
    std::unique_ptr<FileClient> file_reader;
    std::unique_ptr<ImapClient> imap;
};

struct RunState {
    ClientObjects* clients = nullptr;  // set while engine_main runs
    TransportKind transport_kind = TransportKind::smtp;
    ReaderKind reader_kind = ReaderKind::pop3;
    List<string> file_list;
    List<string> attachment_list;
    List<string> train_queue;

    TpClient& current_transport() { return clients->transport(transport_kind); }
    ReadMail& current_reader() { return clients->reader(reader_kind); }
};

RunState& run_state();

// The transport and reader the next job uses.
void select_transport(TransportKind kind);
void select_reader(ReaderKind kind);

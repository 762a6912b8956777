// The engine's run state: the client objects of one engine_main call, the
// two selectors, and the run lists.
#pragma once

#include <memory>

#include "base/lists.h"
#include "base/text_string.h"
#include "retrieve/read_mail.h"
#include "send/file_transport.h"
#include "send/smtp_client.h"
#include "send/tp_client.h"

struct ClientObjects {
    explicit ClientObjects(const string& meter_file);
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
    TpClient* current_transport = nullptr;
    ReadMail* current_reader = nullptr;
    List<string> file_list;
    List<string> attachment_list;
    List<string> train_queue;
};

RunState& run_state();

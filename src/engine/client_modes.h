// The kinds of transport and reader the engine can use, as one table each:
// where a kind finds its server's host and port in the options, the port
// "-ssl" gives it, and how its messages end. The option, keyword and
// web-option readers select a kind; the drivers look its row up.
#pragma once

#include "engine/option_state.h"

enum class TransportKind { smtp, news, imap_upload, file };
enum class ReaderKind { pop3, imap, file };

struct TransportMode {
    TransportKind kind;
    string OptionState::*host;
    string OptionState::*port;
    const char* tls_port;       // the port with implicit TLS, or none
    bool port_names_extension;  // a "-port:" given names the file extension
    bool ends_with_dot;         // the message ends with a "." line
};

struct ReaderMode {
    ReaderKind kind;
    string OptionState::*host;
    string OptionState::*port;
    const char* tls_port;
};

const TransportMode& transport_mode(TransportKind kind);
const ReaderMode& reader_mode(ReaderKind kind);

// "-ssl": every kind's port becomes its implicit-TLS port.
void use_tls_ports(OptionState& options);

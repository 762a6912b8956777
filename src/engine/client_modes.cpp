#include "engine/client_modes.h"

namespace {

const TransportMode transport_modes[] = {
    {TransportKind::smtp, &OptionState::smtp_host, &OptionState::smtp_port, "465", false, true},
    {TransportKind::news, &OptionState::nntp_host, &OptionState::nntp_port, nullptr, false, true},
    {TransportKind::imap_upload, &OptionState::imap_host, &OptionState::imap_port, "993", false, false},
    {TransportKind::file, &OptionState::smtp_host, &OptionState::smtp_port, nullptr, true, false},
};

const ReaderMode reader_modes[] = {
    {ReaderKind::pop3, &OptionState::pop3_host, &OptionState::pop3_port, "995"},
    {ReaderKind::imap, &OptionState::imap_host, &OptionState::imap_port, "993"},
    {ReaderKind::file, &OptionState::pop3_host, &OptionState::pop3_port, nullptr},
};

template <typename Row, typename Kind, size_t N>
const Row& row_of(const Row (&rows)[N], Kind kind)
{
    for (const Row& row : rows)
        if (row.kind == kind) return row;
    return rows[0];
}

}  // namespace

const TransportMode& transport_mode(TransportKind kind) { return row_of(transport_modes, kind); }

const ReaderMode& reader_mode(ReaderKind kind) { return row_of(reader_modes, kind); }

void use_tls_ports(OptionState& o)
{
    for (const ReaderMode& row : reader_modes)
        if (row.tls_port) o.*row.port = row.tls_port;
    for (const TransportMode& row : transport_modes)
        if (row.tls_port) o.*row.port = row.tls_port;
}

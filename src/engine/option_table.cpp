// The main option reader's rows, in the order they are tried: run 1, run 2,
// then the attachment options of run 3.
#include "engine/option_table.h"

#include <climits>
#include <cstdio>
#include <string>

#include "base/line_reader.h"
#include "engine/attachment_options.h"
#include "engine/option_setters.h"
#include "engine/option_state.h"
#include "engine/run_state.h"

namespace {

using namespace setters;

constexpr ValueKind plain = ValueKind::plain;
constexpr ValueKind escape = ValueKind::escape;
constexpr ValueKind verbatim = ValueKind::verbatim;
constexpr OptionGroup always = OptionGroup::always;
constexpr OptionGroup imap_only = OptionGroup::imap_only;
constexpr OptionGroup pgp_only = OptionGroup::pgp_only;
constexpr OptionGroup plain_attach = OptionGroup::plain_attach;
constexpr OptionGroup vpim_attach = OptionGroup::vpim_attach;

// "-to:", "-cc:", "-bcc:": a comma, then the value.
template <string OptionState::*Field>
void append_address(const OptionArg& a)
{
    string& list = o().*Field;
    if (!list.empty()) list += ',';
    list += a.value;
    o().saved_to = o().to;
}

// Quiet, brief and management-only: the IMAP folder options.
void management()
{
    o().quiet = 1;
    o().brief = 1;
    o().management_only = 1;
}

template <string OptionState::*Field>
void management_text(const OptionArg& a)
{
    o().*Field = a.value;
    management();
}

template <int OptionState::*Field>
void management_flag(const OptionArg&)
{
    o().*Field = 1;
    management();
}

template <int Subscribed>
void list_with_pattern(const OptionArg& a)
{
    o().list_pattern = a.value;
    o().list_subscribed = Subscribed;
    management();
}

template <int Style>
void time_style(const OptionArg&)
{
    o().time_style = Style;
}

template <int Priority>
void priority(const OptionArg&)
{
    o().priority = Priority;
}

template <int Negative>
void subject_pattern(const OptionArg& a)
{
    o().pat = a.value;
    o().pat_negative = Negative;
}

template <int Negative>
void sender_pattern(const OptionArg& a)
{
    o().spat = a.value;
    o().spat_negative = Negative;
}

template <int OptionState::*Flag>
void noop_mode(const OptionArg&)
{
    o().*Flag = 1;
    o().noop = 1;
}

void relay_to(const char* host)
{
    o().relay_host = host;
    o().relay = 1;
    o().raw = 1;
}

void quoted_printable(const OptionArg& a)
{
    o().qp = static_cast<int>(a.number);
    if (a.number != 0) o().eight_bit = 0;
}

void disconnect_command(const OptionArg& a)
{
    set_disconnect(a.value);
    process_state().use_config = 1;
}

void subject_from_file(const OptionArg& a)
{
    LineReader reader(a.value.c_str(), 255);
    std::string line;
    reader.next(line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    o().subject = string(line.data(), line.size());
}

void part_numbers(const OptionArg& a)
{
    char name[256] = "";
    unsigned long n = 0, m = 0;
    std::sscanf(a.value.c_str(), "%255[^:]:%lu:%lu", name, &n, &m);
    o().part_name = name;
    o().part_n = static_cast<uint32_t>(n);
    o().part_m = static_cast<uint32_t>(m);
}

}  // namespace

const OptionRow option_rows[] = {
    // Run 1
    {"-exec:", plain, always, text<&OptionState::exec>},
    {"-filter:", plain, always, text<&OptionState::filter>},
    {"-hdr:", escape, always, text<&OptionState::hdr>},
    {"-etrn:", plain, always, [](const OptionArg& a) {
         o().etrn = a.value;
         o().nomsg = 1;
     }},
    {"-org:", plain, always, text<&OptionState::org>},
    {"-date:", plain, always, text<&OptionState::date>},
    {"-sens:", plain, always, text<&OptionState::sens>},
    {"-alias:", plain, always, text<&OptionState::alias>},
    {"-tolist:", plain, always, text<&OptionState::tolist>},
    {"-cclist:", plain, always, text<&OptionState::cclist>},
    {"-bcclist:", plain, always, text<&OptionState::bcclist>},
    {"-referer:", plain, always, text<&OptionState::referer>},
    {"-listserv:", plain, always, [](const OptionArg& a) {
         o().listserv = a.value;
         o().ns = 1;
         o().extract = 1;
     }},
    {"-fetch:", plain, always, text<&OptionState::fetch>},
    {"-owner:", plain, always, text<&OptionState::owner>},
    {"-to:", plain, always, append_address<&OptionState::to>},
    {"-cc:", plain, always, append_address<&OptionState::cc>},
    {"-bcc:", plain, always, append_address<&OptionState::bcc>},
    {"-from:", plain, always, text<&OptionState::from>},
    {"-replyto:", plain, always, text<&OptionState::replyto>},
    {"-connect:", escape, always, [](const OptionArg& a) {
         o().connect = a.value;
         process_state().use_config = 1;
     }},
    {"-disconnect", plain, always, [](const OptionArg&) {
         o().disconnect = "/disconnect";
         process_state().use_config = 1;
     }},
    {"-disconnect:", escape, always, disconnect_command},
    {"-log:", plain, always, text<&OptionState::log>},
    {"-sort:", plain, imap_only, text<&OptionState::sort>},
    {"-search:", plain, imap_only, text<&OptionState::search>},
    {"-ldapasdns", plain, always, flag<&OptionState::ldapasdns, 1>},
    {"-ldapcc", plain, always, flag<&OptionState::ldapcc, 1>},
    {"-ldapbcc", plain, always, flag<&OptionState::ldapbcc, 1>},
    {"-uid", plain, always, flag<&OptionState::uid, 1>},
    {"-ssl", plain, always, [](const OptionArg&) {
         o().ssl = 1;
         use_tls_ports(o());
     }},
    {"-tls", plain, always, flag<&OptionState::tls, 1>},
    {"-hash", plain, always, flag<&OptionState::hash, 1>},
    {"-gmt", plain, always, time_style<1>},
    {"-nogmt", plain, always, time_style<0>},
    {"-utc", plain, always, time_style<2>},
    {"-noutc", plain, always, time_style<0>},
    {"-relay", plain, always, [](const OptionArg&) { relay_to("localhost"); }},
    {"-relay:", plain, always, [](const OptionArg& a) { relay_to(a.value.c_str()); }},
    {"-file:", plain, always, [](const OptionArg& a) {
         o().file = a.value;
         run_state().file_list.add(a.value);
     }},
    {"-harvest:", plain, always, text<&OptionState::harvest>},
    {"-cert:", plain, always, text<&OptionState::cert>},
    {"-level:", verbatim, always, text<&OptionState::level>},
    {"-pat:", plain, always, subject_pattern<0>},
    {"-nopat:", plain, always, subject_pattern<1>},
    {"-spat:", plain, always, sender_pattern<0>},
    {"-nospat:", plain, always, sender_pattern<1>},
    {"-mime:", plain, always, text<&OptionState::mime>},
    {"-charset:", plain, always, text<&OptionState::charset>},
    {"-encoding:", plain, always, text<&OptionState::encoding>},
    {"-getacl", plain, imap_only, management_flag<&OptionState::getacl>},
    {"-setacl:", plain, imap_only, management_text<&OptionState::setacl>},
    {"-deleteacl:", plain, imap_only, management_text<&OptionState::deleteacl>},
    {"-myrights", plain, imap_only, management_flag<&OptionState::myrights>},
    {"-listrights:", plain, imap_only, management_text<&OptionState::listrights>},
    {"-list:", plain, always, list_with_pattern<0>},
    {"-lsub:", plain, always, list_with_pattern<1>},
    {"-list", plain, always, [](const OptionArg&) {
         o().list_pattern = "%";
         management();
     }},
    {"-lsub", plain, always, [](const OptionArg&) {
         o().list_pattern = "%";
         o().list_subscribed = 1;
         management();
     }},
    {"-part:", plain, imap_only, part_numbers},
    {"-mbox:", plain, imap_only, text<&OptionState::mbox>},
    {"-move:", plain, imap_only, text<&OptionState::move>},
    {"-copy:", plain, imap_only, text<&OptionState::copy>},
    {"-create:", plain, imap_only, management_text<&OptionState::create>},
    {"-delete:", plain, imap_only, management_text<&OptionState::del>},
    {"-probe:", verbatim, always, [](const OptionArg& a) {
         o().ns_host = o().smtp_host;
         o().to = o().from = a.value;
         o().probe = o().nomsg = o().mx = 1;
     }},
    {"-noatt", plain, always, [](const OptionArg&) {
         o().attachments_wanted = 0;
         o().extract = 1;
     }},
    {"-mx", plain, always, flag<&OptionState::mx, 1>},
    {"-esmtp", plain, always, flag<&OptionState::esmtp, 1>},
    {"-dh", plain, always, flag<&OptionState::dh, 1>},
    {"-eh", plain, always, flag<&OptionState::eh, 1>},
    {"-nodh", plain, always, flag<&OptionState::dh, 0>},
    {"-noeh", plain, always, flag<&OptionState::eh, 0>},
    {"-size", plain, always, flag<&OptionState::size, 1>},
    {"-inline", plain, always, flag<&OptionState::inline_parts, 1>},
    {"-8", plain, always, [](const OptionArg&) {
         o().eight_bit = 1;
         o().qp = 0;
     }},
    {"-msgid", plain, always, flag<&OptionState::msgid, 1>},
    {"-high", plain, always, priority<1>},
    {"-low", plain, always, priority<2>},
    {"-normal", plain, always, priority<3>},
    {"-notify", plain, always, [](const OptionArg&) { o().notify = o().dsn = 1; }},
    {"-mdn", plain, always, [](const OptionArg&) { o().notify = o().receipt = 1; }},
    {"-dsn", plain, always, flag<&OptionState::dsn, 1>},
    {"-receipt", plain, always, flag<&OptionState::receipt, 2>},
    {"-priv", plain, always, flag<&OptionState::priv, 1>},
    {"-open", plain, always, flag<&OptionState::open, 1>},
    {"-manual", plain, always, flag<&OptionState::manual, 1>},
    {"-news", plain, always, [](const OptionArg&) {
         select_transport(TransportKind::news);
         o().news = 1;
         o().qp = 0;
     }},
    {"-bs", plain, always, flag<&OptionState::bs, 1>},
    {"-apop", plain, always, flag<&OptionState::apop, 1>},
    {"-crammd5", plain, always, flag<&OptionState::apop, 1>},
    {"-imap", plain, always, [](const OptionArg&) {
         select_transport(TransportKind::imap_upload);
         select_reader(ReaderKind::imap);
         o().imap = 1;
     }},
    {"-cap", plain, always, noop_mode<&OptionState::cap>},
    {"-mail", plain, always, [](const OptionArg&) {
         o().pass = o().user = "gorse";
         select_reader(ReaderKind::file);
         o().preauth = 1;
     }},
    {"-mf", plain, always, [](const OptionArg&) { select_transport(TransportKind::file); }},
    {"-preauth", plain, always, flag<&OptionState::preauth, 1>},
    {"-html", plain, always, flag<&OptionState::html, 1>},
    {"-pgp", plain, always, flag<&OptionState::pgp, 1>},
    {"-pgp:", plain, always, [](const OptionArg& a) {
         o().pgp_program = a.value;
         o().pgp = 1;
     }},
    {"-pgppass:", plain, always, text<&OptionState::pgppass>},
    {"-sign", plain, pgp_only, flag<&OptionState::sign, 1>},
    {"-encrypt", plain, pgp_only, flag<&OptionState::encrypt, 1>},
    {"-xml", plain, always, noop_mode<&OptionState::xml>},
    {"-sap", plain, always, noop_mode<&OptionState::sap>},
    {"-udp", plain, always, noop_mode<&OptionState::udp>},
    {"-mcastdump", plain, always, flag<&OptionState::mcastdump, 1>},
    {"-rawsock", plain, always, flag<&OptionState::rawsock, 1>},
    {"-alt:", plain, always, [](const OptionArg& a) {
         o().alt_file = a.value;
         o().alt_text.clear();
         o().alt = 1;
     }},
    {"-alt", plain, always, [](const OptionArg&) {
         o().alt_file.clear();
         o().alt_text.clear();
         o().alt = 1;
     }},
    {"-noop", plain, always, flag<&OptionState::noop, 1>},
    {"-hide", plain, always, flag<&OptionState::hide, 1>},
    {"-ns", plain, always, flag<&OptionState::ns, 1>},
    {"-xit", plain, always, flag<&OptionState::xit, 1>},
    {"-noarchive", plain, always, flag<&OptionState::noarchive, 1>},
    {"-verify", plain, always, flag<&OptionState::verify, 1>},
    {"-q", plain, always, flag<&OptionState::quiet, 1>},
    {"-quiet", plain, always, flag<&OptionState::quiet, 1>},
    {"-v:", verbatim, always, number<&OptionState::verbose>},
    {"-v", plain, always, flag<&OptionState::verbose, 1>},

    // Run 2
    {"-raw", plain, always, [](const OptionArg&) {
         o().raw = 1;
         o().brief = 0;
     }},
    {"-ipv6", plain, always, flag<&OptionState::ipv6, 1>},
    {"-kbs", plain, always, flag<&OptionState::kbs, 1>},
    {"-br", plain, always, flag<&OptionState::brief, 1>},
    {"-full", plain, always, flag<&OptionState::full, 1>},
    {"-decode:base64", plain, always, noop_mode<&OptionState::decode_base64>},
    {"-decode:uue", plain, always, flag<&OptionState::noop, 1>},
    {"-decode:qp", plain, always, flag<&OptionState::noop, 1>},
    {"-encode:base64", plain, always, noop_mode<&OptionState::encode_base64>},
    {"-encode:uue", plain, always, flag<&OptionState::noop, 1>},
    {"-encode:qp", plain, always, flag<&OptionState::noop, 1>},
    {"-wrap:", plain, always, number<&OptionState::wrap>},
    {"-unique", plain, always, flag<&OptionState::unique, 1>},
    {"-user:", verbatim, always, text<&OptionState::user>},
    {"-pass:", verbatim, always, text<&OptionState::pass>},
    {"-use_mime:", plain, always, number<&OptionState::use_mime>},
    {"-severy:", plain, always, [](const OptionArg& a) {
         o().every = a.number < 0 ? 1 : static_cast<int>(a.number);
     }},
    {"-every:", plain, always, [](const OptionArg& a) {
         long long seconds = 60LL * a.number;
         o().every = seconds < 60 ? 60 : seconds > INT_MAX ? INT_MAX : static_cast<int>(seconds);
     }},
    {"-qp:", plain, always, quoted_printable},
    {"-map_8bit:", plain, always, quoted_printable},
    {"-cnt:", plain, always, number<&OptionState::cnt>},
    {"-limit:", plain, always, number<&OptionState::limit>},
    {"-uue", plain, always, [](const OptionArg&) { o().uue = o().binary = 1; }},
    {"-extract:", plain, always, [](const OptionArg& a) {
         o().extract_path = a.value;
         o().extract = 1;
     }},
    {"-extract", plain, always, flag<&OptionState::extract, 1>},
    {"-purge", plain, always, flag<&OptionState::purge, 1>},
    {"-pu", plain, always, flag<&OptionState::purge, 1>},
    {"-rm", plain, always, [](const OptionArg&) {
         o().rm = 1;
         o().unrm = 0;
         o().quiet = 1;
         o().brief = 1;
     }},
    {"-unrm", plain, always, [](const OptionArg&) { o().rm = o().unrm = 1; }},
    {"-rmlist", plain, always, flag<&OptionState::rmlist, 1>},
    {"-rmfile:", plain, always, text<&OptionState::rmfile>},
    {"-msglen:", plain, always, number<&OptionState::msglen>},
    {"-msg:", escape, always, [](const OptionArg& a) {
         o().msg_number = o().first = static_cast<int32_t>(a.number);
         o().msg = a.value;
     }},
    {"-header:", escape, always, text<&OptionState::header>},
    {"-first:", plain, always, [](const OptionArg& a) {
         o().first = static_cast<int32_t>(a.number + o().msg_number);
     }},
    {"-retries:", plain, always, number<&OptionState::retries>},
    {"-import", plain, always, flag<&OptionState::import, 1>},
    {"-t", plain, always, [](const OptionArg&) { o().relay = o().raw = 1; }},
    {"-binary", plain, always, flag<&OptionState::binary, 1>},
    {"-text", plain, always, flag<&OptionState::text, 1>},
    {"-idle:", plain, always, number<&OptionState::idle>},
    {"-idle", plain, always, flag<&OptionState::idle, INT_MAX>},
    {"-s:", plain, always, text<&OptionState::subject>},
    {"-sfile:", plain, always, subject_from_file},
    {"-masq:", plain, always, text<&OptionState::masq>},
    {"-sep:", escape, always, text<&OptionState::sep>},
    {"-nomsg", plain, always, flag<&OptionState::nomsg, 1>},

    // Run 3: the attachment options act on the current transport when read
    {"-a:", plain, plain_attach, attach_file},
    {"-vpim", plain, always, [](const OptionArg&) {
         o().vpim = 1;
         run_state().current_transport().composer.vpim = 1;
     }},
    {"-a:", escape, vpim_attach, attach_voice},
    {"-i:", plain, always, include_file},
    {"-post", plain, always, flag<&OptionState::post, 1>},
    {"-post:", plain, always, post_body_from_file},
    {"-url:", plain, always, attach_url},
    {"-train", plain, always, flag<&OptionState::train, 1>},
    {"-dir:", plain, always, attach_directory},
    {"-rdir:", plain, always, attach_directory_tree},
};

const size_t option_row_count = sizeof option_rows / sizeof option_rows[0];

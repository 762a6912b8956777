// The configuration file's keywords. A line is taken by the longest keyword
// it begins with (compared without case); its value is the rest of the line
// after the first word, cut at 255 or 1023 characters.
#include "engine/config_keywords.h"

#include <climits>
#include <cstdio>

#include "base/text_utils.h"
#include "engine/attachment_options.h"
#include "engine/option_setters.h"
#include "engine/run_state.h"
#include "engine/url_attachment.h"

namespace {

using namespace setters;

constexpr ConfigValue none = ConfigValue::none;
constexpr ConfigValue w255 = ConfigValue::w255;
constexpr ConfigValue w1023 = ConfigValue::w1023;

RunState& rs() { return run_state(); }

template <string OptionState::*A, string OptionState::*B, string OptionState::*C, string OptionState::*D>
void four_hosts(const OptionArg& a)
{
    o().*A = o().*B = o().*C = o().*D = a.value;
}

void use_pop3_and_smtp()
{
    select_reader(ReaderKind::pop3);
    select_transport(TransportKind::smtp);
    o().imap = 0;
}

void attach_config_file(const OptionArg& a)
{
    if (o().vpim) attach_voice(a);
    else attach_file(a);
}

void first_message(const OptionArg& a) { o().first = static_cast<int32_t>(a.number + o().msg_number); }

}  // namespace

const ConfigRow config_rows[] = {
    // Servers and connection
    {"HOST", w255, false, four_hosts<&OptionState::smtp_host, &OptionState::pop3_host, &OptionState::imap_host,
                                     &OptionState::nntp_host>},
    {"NOHOST", none, false, [](const OptionArg&) {
         o().smtp_host.clear();
         o().pop3_host.clear();
         o().imap_host.clear();
         o().nntp_host.clear();
     }},
    {"SMTP_HOST", w255, false, text<&OptionState::smtp_host>},
    {"POP3_HOST", w255, false, text<&OptionState::pop3_host>},
    {"IMAP_HOST", w255, false, text<&OptionState::imap_host>},
    {"NNTP_HOST", w255, false, text<&OptionState::nntp_host>},
    {"CAP_HOST", w255, false, text<&OptionState::cap_host>},
    {"LDAP_HOST", w255, false, text<&OptionState::ldap_host>},
    {"SMTP_PORT", w255, false, text<&OptionState::smtp_port>},
    {"SMTP", w255, false, text<&OptionState::smtp_port>},
    {"POP3_PORT", w255, false, text<&OptionState::pop3_port>},
    {"POP3", w255, false, text<&OptionState::pop3_port>},
    {"IMAP_PORT", w255, false, text<&OptionState::imap_port>},
    {"IMAP4", w255, false, text<&OptionState::imap_port>},
    {"NNTP_PORT", w255, false, text<&OptionState::nntp_port>},
    {"NNTP", w255, false, text<&OptionState::nntp_port>},
    {"CAP_PORT", w255, false, text<&OptionState::cap_port>},
    {"LDAP_PORT", w255, false, text<&OptionState::ldap_port>},
    {"FIREWALL", w255, false, text<&OptionState::firewall>},
    {"NOFIREWALL", none, false, clear_text<&OptionState::firewall>},
    {"BINDDN", w255, false, text<&OptionState::binddn>},
    {"BINDPWD", w255, false, text<&OptionState::bindpwd>},
    {"SSL", none, false, [](const OptionArg&) {
         o().ssl = 1;
         o().tls = 0;
     }},
    {"NOSSL", none, false, flag<&OptionState::ssl, 0>},
    {"TLS", none, false, [](const OptionArg&) {
         o().tls = 1;
         o().ssl = 0;
     }},
    {"NOTLS", none, false, flag<&OptionState::tls, 0>},
    {"IPV6", none, false, flag<&OptionState::ipv6, 1>},
    {"NOIPV6", none, false, flag<&OptionState::ipv6, 0>},
    {"APOP", none, false, flag<&OptionState::apop, 1>},
    {"CRAMMD5", none, false, flag<&OptionState::apop, 1>},
    {"NOAPOP", none, false, flag<&OptionState::apop, 0>},
    {"NOCRAMMD5", none, false, flag<&OptionState::apop, 0>},
    {"PREAUTH", w255, false, number<&OptionState::preauth>},
    {"USER", w1023, false, text<&OptionState::user>},
    {"PASS", w1023, false, text<&OptionState::pass>},
    {"NOUSER", none, false, clear_text<&OptionState::user>},
    {"NOPASS", none, false, clear_text<&OptionState::pass>},
    {"ESMTP", none, false, flag<&OptionState::esmtp, 1>},
    {"NOESMTP", none, false, flag<&OptionState::esmtp, 0>},
    {"MX", w255, false, number<&OptionState::mx>},
    {"NOMX", none, false, flag<&OptionState::mx, 0>},
    {"RETRIES", w1023, false, number<&OptionState::retries>},
    {"NORETRIES", none, false, flag<&OptionState::retries, 0>},
    {"DIALER", w255, false, text<&OptionState::dialer>},
    {"CONNECT", w255, true, text<&OptionState::connect>},
    {"DISCONNECT", w255, true, [](const OptionArg& a) { set_disconnect(a.value); }},

    // Transport and reader selection
    {"IMAP", none, false, [](const OptionArg&) {
         select_reader(ReaderKind::imap);
         select_transport(TransportKind::imap_upload);
         o().imap = 1;
         o().news = 0;
     }},
    {"NOIMAP", none, false, [](const OptionArg&) { use_pop3_and_smtp(); }},
    {"MAIL", none, false, [](const OptionArg&) {
         o().pass = o().user = "gorse";
         select_reader(ReaderKind::file);
         o().preauth = 1;
         select_transport(TransportKind::smtp);
         o().imap = o().news = 0;
     }},
    {"NOMAIL", none, false, [](const OptionArg&) { use_pop3_and_smtp(); }},
    {"MF", none, false, [](const OptionArg&) { select_transport(TransportKind::file); }},
    {"NOMF", none, false, [](const OptionArg&) { select_transport(TransportKind::smtp); }},
    {"NEWS", none, false, [](const OptionArg&) {
         select_transport(TransportKind::news);
         o().imap = 0;
         o().news = 1;
         o().qp = 0;
     }},
    {"NONEWS", none, false, [](const OptionArg&) {
         select_transport(TransportKind::smtp);
         o().news = 0;
         o().qp = 1;
     }},
    {"CAP", none, false, [](const OptionArg&) {
         o().cap = o().noop = 1;
         o().imap = o().news = 0;
     }},
    {"NOCAP", none, false, [](const OptionArg&) { o().cap = o().noop = 0; }},
    {"NOOP", none, false, flag<&OptionState::noop, 1>},
    {"NONOOP", none, false, flag<&OptionState::noop, 0>},

    // Addresses and message
    {"FROM", w255, false, text<&OptionState::from>},
    {"NOFROM", none, false, clear_text<&OptionState::from>},
    {"TO", w1023, false, [](const OptionArg& a) { o().to = o().saved_to = a.value; }},
    {"NOTO", none, false, [](const OptionArg&) {
         o().to.clear();
         o().saved_to.clear();
     }},
    {"CC", w1023, false, text<&OptionState::cc>},
    {"BCC", w1023, false, text<&OptionState::bcc>},
    {"NOCC", none, false, clear_text<&OptionState::cc>},
    {"NOBCC", none, false, clear_text<&OptionState::bcc>},
    {"TOLIST", w1023, false, text<&OptionState::tolist>},
    {"CCLIST", w1023, false, text<&OptionState::cclist>},
    {"BCCLIST", w1023, false, text<&OptionState::bcclist>},
    {"NOTOLIST", none, false, clear_text<&OptionState::tolist>},
    {"NOCCLIST", none, false, clear_text<&OptionState::cclist>},
    {"NOBCCLIST", none, false, clear_text<&OptionState::bcclist>},
    {"REPLY-TO", w255, false, text<&OptionState::replyto>},
    {"REPLYTO", w255, false, text<&OptionState::replyto>},
    {"NOREPLY-TO", none, false, clear_text<&OptionState::replyto>},
    {"NOREPLYTO", none, false, clear_text<&OptionState::replyto>},
    {"SUBJECT", w1023, false, text<&OptionState::subject>},
    {"NOSUBJECT", none, false, clear_text<&OptionState::subject>},
    {"ORG", w1023, false, text<&OptionState::org>},
    {"SENS", w1023, false, text<&OptionState::sens>},
    {"NOORG", none, false, clear_text<&OptionState::org>},
    {"NOSENS", none, false, clear_text<&OptionState::sens>},
    {"HDR", w255, true, text<&OptionState::hdr>},
    {"DOMAIN", w255, false, text<&OptionState::domain>},
    {"NODOMAIN", none, false, clear_text<&OptionState::domain>},
    {"MSG", w255, false, [](const OptionArg& a) {
         o().msg_number = o().first = static_cast<int32_t>(a.number);
     }},
    {"NOMSG", none, false, [](const OptionArg&) {
         o().msg_number = 1;
         o().first = -1;
     }},
    {"FIRST", w255, false, first_message},
    {"NOFIRST", none, false, [](const OptionArg&) { o().first = INT32_MAX; }},
    {"HIGH", none, false, flag<&OptionState::priority, 1>},
    {"LOW", none, false, flag<&OptionState::priority, 2>},
    {"NORMAL", none, false, flag<&OptionState::priority, 3>},
    {"NOTIFY", none, false, [](const OptionArg&) { o().notify = o().dsn = 1; }},
    {"NONOTIFY", none, false, [](const OptionArg&) { o().notify = o().dsn = 0; }},
    {"MDN", none, false, [](const OptionArg&) { o().notify = o().receipt = 1; }},
    {"NOMDN", none, false, [](const OptionArg&) { o().notify = o().receipt = 0; }},
    {"DSN", none, false, flag<&OptionState::dsn, 1>},
    {"NODSN", none, false, flag<&OptionState::dsn, 0>},
    {"RECEIPT", none, false, flag<&OptionState::receipt, 2>},
    {"NORECEIPT", none, false, flag<&OptionState::receipt, 0>},
    {"MSGID", none, false, flag<&OptionState::msgid, 1>},
    {"GMT", none, false, flag<&OptionState::time_style, 1>},
    {"UTC", none, false, flag<&OptionState::time_style, 2>},
    {"NOGMT", none, false, flag<&OptionState::time_style, 0>},
    {"NOUTC", none, false, flag<&OptionState::time_style, 0>},
    {"LIMIT", w1023, false, number<&OptionState::limit>},
    {"NOLIMIT", none, false, flag<&OptionState::limit, 0>},
    {"MSGLEN", w1023, false, number<&OptionState::msglen>},
    {"NOMSGLEN", none, false, flag<&OptionState::msglen, 0>},
    {"INLINE", none, false, flag<&OptionState::inline_parts, 1>},
    {"NOINLINE", none, false, flag<&OptionState::inline_parts, 0>},
    {"HTML", none, false, flag<&OptionState::html, 1>},
    {"NOHTML", none, false, flag<&OptionState::html, 0>},
    {"VPIM", none, false, flag<&OptionState::vpim, 1>},
    {"NOVPIM", none, false, flag<&OptionState::vpim, 0>},
    {"UNIQUE", none, false, flag<&OptionState::unique, 1>},
    {"NOUNIQUE", none, false, flag<&OptionState::unique, 0>},
    {"ALT", none, false, [](const OptionArg&) {
         o().alt_file.clear();
         o().alt_text.clear();
         o().alt = 1;
     }},
    {"NOALT", none, false, [](const OptionArg&) {
         o().alt_file.clear();
         o().alt_text.clear();
         o().alt = 0;
     }},
    {"A ", w1023, false, attach_config_file},
    {"URL", w1023, false, [](const OptionArg& a) { attach_url_document(a.value, UrlSource::configuration); }},
    {"NOURL", none, false, clear_text<&OptionState::url>},
    {"TRAIN", none, false, flag<&OptionState::train, 1>},
    {"NOTRAIN", none, false, flag<&OptionState::train, 0>},
    {"FILE", w255, false, [](const OptionArg& a) {
         o().file = a.value;
         rs().file_list.add(a.value);
     }},
    {"NOFILE", none, false, clear_text<&OptionState::file>},
    {"SEP", w1023, true, text<&OptionState::sep>},

    // Encoding
    {"MIME", w255, false, text<&OptionState::mime>},
    {"NOMIME", none, false, clear_text<&OptionState::mime>},
    {"CHARSET", w255, false, text<&OptionState::charset>},
    {"NOCHARSET", none, false, clear_text<&OptionState::charset>},
    {"QP", w255, false, number_if_any<&OptionState::qp>},
    {"NOQP", none, false, flag<&OptionState::qp, 0>},
    {"DH", none, false, flag<&OptionState::dh, 1>},
    {"NODH", none, false, flag<&OptionState::dh, 0>},
    {"EH", none, false, flag<&OptionState::eh, 1>},
    {"NOEH", none, false, flag<&OptionState::eh, 0>},
    {"BINARY", none, false, flag<&OptionState::binary, 1>},
    {"NOBINARY", none, false, flag<&OptionState::binary, 0>},
    {"TEXT", none, false, flag<&OptionState::text, 1>},
    {"NOTEXT", none, false, flag<&OptionState::text, 0>},

    // Retrieval
    {"EXTRACT", w1023, false, [](const OptionArg& a) {
         o().extract_path = a.value;
         o().extract = 1;
     }},
    {"NOEXTRACT", none, false, [](const OptionArg&) {
         o().extract_path.clear();
         o().extract = 0;
     }},
    {"NOATT", none, false, [](const OptionArg&) {
         o().attachments_wanted = 0;
         o().extract = 1;
     }},
    {"BR", none, false, flag<&OptionState::brief, 1>},
    {"NOBR", none, false, flag<&OptionState::brief, 0>},
    {"FULL", none, false, flag<&OptionState::full, 1>},
    {"NOFULL", none, false, flag<&OptionState::full, 0>},
    {"HASH", none, false, flag<&OptionState::hash, 1>},
    {"NOHASH", none, false, flag<&OptionState::hash, 0>},
    {"KBS", none, false, flag<&OptionState::kbs, 1>},
    {"NOKBS", none, false, flag<&OptionState::kbs, 0>},
    {"QUIET", none, false, flag<&OptionState::quiet, 1>},
    {"NOQUIET", none, false, flag<&OptionState::quiet, 0>},
    {"SIZE", none, false, flag<&OptionState::size, 1>},
    {"NOSIZE", none, false, flag<&OptionState::size, 0>},
    {"UID", none, false, flag<&OptionState::uid, 1>},
    {"NOUID", none, false, flag<&OptionState::uid, 0>},
    {"NS", none, false, flag<&OptionState::ns, 1>},
    {"NONS", none, false, flag<&OptionState::ns, 0>},
    {"IMPORT", none, false, flag<&OptionState::import, 1>},
    {"NOIMPORT", none, false, flag<&OptionState::import, 0>},
    {"RAW", none, false, flag<&OptionState::raw, 1>},
    {"NORAW", none, false, flag<&OptionState::raw, 0>},
    {"RM", none, false, [](const OptionArg&) { o().rm = o().quiet = o().brief = 1; }},
    {"NORM", none, false, flag<&OptionState::rm, 0>},
    {"PU", none, false, flag<&OptionState::purge, 1>},
    {"NOPU", none, false, flag<&OptionState::purge, 0>},
    {"RMLIST", none, false, flag<&OptionState::rmlist, 1>},
    {"RMFILE", w1023, false, text<&OptionState::rmfile>},
    {"NORMFILE", none, false, clear_text<&OptionState::rmfile>},
    {"ARCHIVE", none, false, flag<&OptionState::noarchive, 0>},
    {"NOARCHIVE", none, false, flag<&OptionState::noarchive, 1>},
    {"IDLE", none, false, flag<&OptionState::idle, INT_MAX>},
    {"NOIDLE", none, false, flag<&OptionState::idle, 0>},
    {"SORT", w1023, false, text<&OptionState::sort>},
    {"SEARCH", w1023, false, [](const OptionArg& a) {
         o().search = a.value;
         // The LDAP filter takes the same value, cut at 255 characters.
         o().ldap_search = unquote(string(a.raw).substr(0, 255), '"');
     }},
    {"NOSEARCH", none, false, clear_text<&OptionState::ldap_search>},
    {"LOG", w255, false, text<&OptionState::log>},
    {"HARVEST", w255, false, text<&OptionState::harvest>},
    {"NOLOG", none, false, clear_text<&OptionState::log>},
    {"NOHARVEST", none, false, clear_text<&OptionState::harvest>},
    {"EVERY", w255, false, [](const OptionArg& a) {
         long long seconds = 60LL * a.number;
         o().every = seconds > INT_MAX ? INT_MAX : seconds < INT_MIN ? INT_MIN : static_cast<int>(seconds);
     }},
    {"SEVERY", w255, false, number<&OptionState::every>},

    // Directory and PGP
    {"ATTRIB", w255, false, text<&OptionState::attrib>},
    {"NOATTRIB", none, false, [](const OptionArg&) { o().attrib = "mail"; }},
    {"LDAPASDNS", none, false, flag<&OptionState::ldapasdns, 1>},
    {"LDAPCC", none, false, flag<&OptionState::ldapcc, 1>},
    {"LDAPBCC", none, false, flag<&OptionState::ldapbcc, 1>},
    {"NOLDAPASDNS", none, false, flag<&OptionState::ldapasdns, 0>},
    {"NOLDAPCC", none, false, flag<&OptionState::ldapcc, 0>},
    {"NOLDAPBCC", none, false, flag<&OptionState::ldapbcc, 0>},
    {"PGP", w255, false, [](const OptionArg& a) {
         if (!a.value.empty()) o().pgp_program = a.value;
         o().pgp = 1;
     }},
    {"PGPPASS", w255, false, [](const OptionArg& a) {
         if (!a.value.empty()) o().pgppass = a.value;
     }},
    {"SIGN", none, false, [](const OptionArg&) {
         if (o().pgp) o().sign = 1;
     }},
    {"ENCRYPT", none, false, [](const OptionArg&) {
         if (o().pgp) o().encrypt = 1;
     }},
    {"NOSIGN", none, false, flag<&OptionState::sign, 0>},
    {"NOENCRYPT", none, false, flag<&OptionState::encrypt, 0>},
    {"NOPGP", none, false, [](const OptionArg&) { o().pgp = o().sign = o().encrypt = 0; }},
    {"SCRIPTS", w1023, false, text<&OptionState::scripts>},
};

const size_t config_row_count = sizeof config_rows / sizeof config_rows[0];

// Lines that begin with one of these are not offered to the label reader.
const char* const config_label_exceptions[] = {
    "SEARCH", "SEP", "SCRIPTS", "DIALER", "CONNECT", "DISCONNECT", "LOG", "NOLOG", "HARVEST",
    "NOHARVEST", "FILE", "NOFILE", "MX", "NOMX", "ESMTP", "NOESMTP", "HDR",
};

const size_t config_label_exception_count = sizeof config_label_exceptions / sizeof config_label_exceptions[0];

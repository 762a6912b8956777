// The engine's option state: one field for every option and configuration
// keyword, named after it. Three lifetimes: per run (OptionState, reset at
// the start of every repetition), per call (CallState) and per process
// (ProcessState).
#pragma once

#include <climits>
#include <cstdint>

#include "base/text_string.h"

// The SMTP port when no "-port:" is given.
constexpr const char* default_smtp_port = "25";

struct OptionState {
    // Addressing
    string to, cc, bcc, saved_to;
    string from, replyto, masq;
    string tolist, cclist, bcclist;
    int hash = 0;
    string alias;
    int verify = 0;
    string etrn;

    // Servers and connection
    string smtp_host = "localhost", pop3_host = "localhost", imap_host = "localhost", nntp_host = "localhost";
    string ns_host = "localhost", cap_host = "localhost";
    string smtp_port = default_smtp_port, pop3_port = "110", imap_port = "143", nntp_port = "119", cap_port = "5229";
    string ldap_host = "localhost", ldap_port = "389", ldap_search, ldap_base, binddn, bindpwd, attrib = "mail";
    int ldapasdns = 0, ldapcc = 0, ldapbcc = 0;
    string interface_address;  // "-if:"
    string firewall;
    string tunnel_host, tunnel_port;
    int ssl = 0, tls = 0, ipv6 = 0;
    string cert;
    string level;
    string connect, disconnect, dialer;
    string relay_host;
    int relay = 0;
    int raw = 0;
    int mx = 0;
    int probe = 0;
    int esmtp = 1;
    int apop = 0;  // challenge authentication: "-apop" and "-crammd5"
    int preauth = 0;
    string user, pass;
    int retries = 0;
    int idle = 0;
    string domain;
    string proxy_host, proxy_port;

    // Transport, reader and mode selection
    int imap = 0, news = 0, import = 0, cap = 0, noop = 0, noarchive = 0, ns = 0, xit = 0;
    int upload = 0;

    // Message content
    string subject;
    string msg;           // message text
    int nomsg = 0;
    int32_t msg_number = 1;
    int32_t first = INT32_MAX;
    string file;
    string header;        // "-header:"
    string hdr;           // "-hdr:"
    string org, date, sens;
    int priority = 0;     // 1 high, 2 low, 3 normal
    int notify = 0, dsn = 0, receipt = 0, msgid = 0;
    int mx_preference = -1;
    int time_style = 0;   // 1 GMT, 2 UTC
    int cnt = 1;
    int msglen = 0;
    int limit = 0;
    int hide = 0, inline_parts = 0, html = 0;
    int alt = 0;
    string alt_file, alt_text;
    string sep;
    int unique = 0;

    // MIME and transfer encoding
    string mime = "text/plain";
    string charset = "iso-8859-1";
    int use_mime = 1;
    int qp = 1;
    int eight_bit = 0;
    int eh = 1, dh = 1;
    int uue = 0, binary = 0, text = 0;
    int wrap = 72;
    string encoding;
    int vpim = 0;
    int bufsiz = 4096;

    // Attachments and fetched documents
    int post = 0;
    string post_body;
    string referer;
    string url;
    int train = 0;

    // Retrieval selection
    string pat;
    int pat_negative = 0;
    string spat;
    int spat_negative = 0;
    int brief = 0, full = 0, extract = 0, attachments_wanted = 1;
    string extract_path;
    int rm = 0, unrm = 0, purge = 0, rmlist = 0;
    string rmfile;
    string exec, filter, log, harvest;
    int size = 0, bs = 0, uid = 0, kbs = 0;
    int message_count = 0;  // the count the reader gave after login
    int quiet = 0;

    // IMAP folders and access control
    string mbox = "INBOX";
    string move, copy, create, del;
    string list_pattern;
    int list_subscribed = 0;
    int management_only = 0;
    string sort, search;
    string part_name;
    uint32_t part_n = 0, part_m = 0;
    int getacl = 0, myrights = 0;
    string setacl, deleteacl, listrights;

    // List server
    string listserv, fetch = "fetch", owner;
    int open = 0, priv = 0, manual = 0;

    // PGP
    int pgp = 0;
    string pgp_program = "pgp", pgppass;
    int sign = 0, encrypt = 0;

    // Output, special modes and diagnostics
    int verbose = 0;
    int xml = 0, sap = 0, udp = 0, mcastdump = 0, rawsock = 0;
    int decode_base64 = 0, encode_base64 = 0;
    int every = 0;  // repeat interval in seconds

    // Web mail
    int web_mode = 0, auth = 0, reply = 0, forward = 0, logout = 0, get = 0;
    string redirect;
    string scripts = "/cgi-bin/tavrin.exe";
    string font, title, page_header, trailer, background, text_color, bgcolor;
};

struct CallState {
    string base_path;
    string config_file;
    string meter_file;
    string saved_web_base;  // the web-mail base folder with its separator
};

struct ProcessState {
    int timeout = 300;
    int use_config = 0;
    string kextra_charset;
    int kextra_binary = 0;
    string kextra_greeting;
};

OptionState& options();
CallState& call_state();
ProcessState& process_state();

// Restores every per-run field to its default.
void reset_run_options();

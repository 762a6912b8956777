#include "engine/transport_setup.h"

#include "engine/option_state.h"
#include "send/smtp_client.h"

void configure_transport(TpClient& t)
{
    const OptionState& o = options();
    const ProcessState& p = process_state();
    t.timeout = p.timeout;
    t.trace_level = o.verbose >= 2 ? o.verbose : 0;
    t.ipv6 = o.ipv6;
    t.implicit_tls = o.ssl;
    t.starttls = o.tls;
    t.message_id = o.msgid;
    t.raw = o.raw;
    t.mime = o.use_mime;
    t.encode_headers = o.eh;
    t.qp = o.qp;
    t.eight_bit = o.eight_bit;
    t.uue = o.uue;
    t.set_buffer_size(o.bufsiz);
    t.binary = p.kextra_binary == 1 ? 1 : o.binary;
    t.script_base64 = p.kextra_binary == 1;
    t.text = o.text;
    t.hide = o.hide;
    t.set_content_type(o.mime);
    t.set_charset(p.kextra_charset.empty() ? o.charset : p.kextra_charset);
    t.html = o.html;
    t.alternative = o.alt;
    t.alt_text = o.alt_text;
    t.limit = o.limit > 0 ? o.limit : INT_MAX;
    t.priority = o.priority;
    t.disposition_notification = o.notify;
    t.return_receipt = o.dsn;
    t.set_organization(o.org);
    t.date_text = o.date;
    t.set_sensitivity(o.sens);
    t.inline_parts = o.inline_parts;
    t.date_style = o.time_style;
    t.extra_header = o.hdr;
    t.firewall = o.firewall;
    t.apop = o.apop;
    t.tunnel_host = o.tunnel_host;
    t.tunnel_port = o.tunnel_port;
    t.vpim = o.vpim || t.vpim;
    if (auto* smtp = dynamic_cast<SmtpClient*>(&t)) {
        smtp->esmtp = o.esmtp;
        smtp->probe = o.probe;
        smtp->continue_on_refusal = o.ns;
    }
}

#include "engine/transport_setup.h"

#include "engine/option_state.h"
#include "engine/run_state.h"

void configure_transport(TpClient& t)
{
    const OptionState& o = options();
    const ProcessState& p = process_state();
    MessageComposer& c = t.composer;
    t.timeout = p.timeout;
    t.set_trace_level(o.verbose >= 2 ? o.verbose : 0);
    t.ipv6 = o.ipv6;
    t.implicit_tls = o.ssl;
    t.starttls = o.tls;
    t.set_buffer_size(o.bufsiz);
    t.limit = o.limit > 0 ? o.limit : INT_MAX;
    t.firewall = o.firewall;
    t.apop = o.apop;
    t.tunnel_host = o.tunnel_host;
    t.tunnel_port = o.tunnel_port;
    c.message_id = o.msgid;
    c.raw = o.raw;
    c.mime = o.use_mime;
    c.encode_headers = o.eh;
    c.qp = o.qp;
    c.eight_bit = o.eight_bit;
    c.uue = o.uue;
    c.binary = p.kextra_binary == 1 ? 1 : o.binary;
    c.script_base64 = p.kextra_binary == 1;
    c.text = o.text;
    c.hide = o.hide;
    c.set_content_type(o.mime);
    c.set_charset(p.kextra_charset.empty() ? o.charset : p.kextra_charset);
    c.html = o.html;
    c.alternative = o.alt;
    c.alt_text = o.alt_text;
    c.priority = o.priority;
    c.disposition_notification = o.notify;
    c.return_receipt = o.dsn;
    c.set_organization(o.org);
    c.date_text = o.date;
    c.set_sensitivity(o.sens);
    c.inline_parts = o.inline_parts;
    c.date_style = o.time_style;
    c.extra_header = o.hdr;
    c.vpim = o.vpim || c.vpim;
}

void configure_smtp(SmtpClient& smtp)
{
    const OptionState& o = options();
    smtp.esmtp = o.esmtp;
    smtp.probe = o.probe;
    smtp.continue_on_refusal = o.ns;
    smtp.greeting = process_state().kextra_greeting;
}

void configure_clients()
{
    RunState& rs = run_state();
    configure_transport(rs.current_transport());
    rs.current_transport().no_terminator = !transport_mode(rs.transport_kind).ends_with_dot;
    configure_smtp(*rs.clients->smtp);
    rs.clients->news->set_no_archive(options().noarchive);
}

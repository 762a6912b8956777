#include "engine/engine_main.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/alias_table.h"
#include "base/line_reader.h"
#include "base/text_utils.h"
#include "base/form_fields.h"
#include "base/heap_text.h"
#include "engine/address_list.h"
#include "engine/config_reader.h"
#include "engine/drivers.h"
#include "engine/early_options.h"
#include "engine/option_reader.h"
#include "engine/option_state.h"
#include "engine/proxy_settings.h"
#include "engine/run_state.h"
#include "engine/job_modes.h"
#include "base/text_stream.h"
#include "engine/transport_setup.h"
#include "engine/web_options.h"
#include "net/dns.h"
#include "platform/environment.h"
#include "platform/os_version.h"
#include "platform/paths.h"
#include "platform/time_zone.h"

namespace {

const char* const usage_lines[] = {
    ("Usage: tavrin [-host:server] [-port:service] [-news [-noarchive]] [-to:address | -tolist:filename] "
     "[-cc:address | -cclist:filename]  [-bcc:address | -bcclist:filename] -from:address [-repltyto:address] "
     "[-verify] [-s:subject] [-import|-t] [-ns] [-file:filename] [-rm] [-nomsg | -msg:text] [-html [-alt]] "
     "[-config] [-a:filename ...] [-dir:dirname]"),
    ("Usage: tavrin [-host:server] [-port:service] [-imap [-mbox:name]] -user:userid -pass:password "
     "[-file:filename [-extract:[path]] [-msg:nbr] [-exec:cmd] [-br] [-rm]"),
    "Usage: tavrin [-connect:string | -disconnect:string] [-noop] [options...]",
};

void read_environment()
{
    const char* base = get_env("TAVRIN_PATH");
    call_state().base_path = base ? base : default_base_path;
    const char* config = get_env("TAVRIN_CONFIG");
    call_state().config_file = config ? config : "tavrin.txt";
    call_state().meter_file.clear();
}

void pre_pass(int argc, const char* const* argv)
{
    bool want_version = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i] ? argv[i] : "";
        if (std::strncmp(arg, "-meter:", 7) == 0) call_state().meter_file = unquote(arg + 7, '"');
        else if (std::strcmp(arg, "-free") == 0) detach_console();
        else if (std::strcmp(arg, "-osver") == 0) want_version = true;
    }
    OsVersion version;
    if (want_version && read_os_version(version))
        report_stream << "Major: " << version.major << ", Minor: " << version.minor
                      << ", Platform: " << version.platform_id << "\r\n";
}

// In mail-exchanger mode an SMTP host left at "localhost" becomes the
// machine's first name server, and so does the name-server host.
void use_name_server_in_mx_mode()
{
    OptionState& o = options();
    if (!o.mx && !o.probe) return;
    string primary, secondary, domain;
    find_dns_config(primary, secondary, domain);
    if (o.smtp_host != "localhost") return;
    o.smtp_host = o.ns_host = primary;
    if (o.ldapasdns) o.ldap_host = o.ns_host;
}

// Runs the dialer with a connect or disconnect command when both are set.
void dial(const string& command, bool report)
{
    const string& dialer = options().dialer;
    if (dialer.empty() || command.empty()) return;
    string line = dialer + " " + command;
    if (report) report_stream << "Exec: '" << line << "'\r\n";
    run_command(line.c_str());
}

void load_alternative_text()
{
    OptionState& o = options();
    if (o.alt_file.empty()) return;
    LineReader reader(o.alt_file.c_str(), 1022);
    if (!reader.is_open()) return;
    std::string text, line;
    while (reader.next(line)) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        text += line;
        text += "\r\n";
    }
    o.alt_text = string(text.data(), text.size());
}

void load_alias_table()
{
    const string& file = options().alias;
    if (file.empty()) return;
    LineReader reader(file.c_str(), 254);
    std::string line;
    char name[256], expansion[256];
    while (reader.next(line)) {
        if (line[0] == '#' || line[0] == '\\') continue;
        name[0] = expansion[0] = 0;
        if (std::sscanf(line.c_str(), "%255[^:]: %255[^#\t\r\n]", name, expansion) == 2)
            alias_add(name, expansion);
    }
}

// The list files replace To, Cc and Bcc.
void load_list_files()
{
    OptionState& o = options();
    struct ListFile {
        string* file;
        string* target;
    } lists[] = {{&o.tolist, &o.to}, {&o.cclist, &o.cc}, {&o.bcclist, &o.bcc}};
    for (const ListFile& l : lists)
        if (!l.file->empty()) *l.target = read_address_list(l.file->c_str(), o.hash != 0);
}

bool receive_wanted()
{
    const OptionState& o = options();
    if (o.upload || o.import || !o.from.empty()) return false;
    return !o.user.empty() || (!o.cert.empty() && o.level == "2") || o.auth;
}

// Steps 12.1 to 12.7 of a repetition: prepare and run one driver.
int run_job()
{
    load_alternative_text();
    configure_clients();
    load_alias_table();
    load_list_files();
    OptionState& o = options();
    o.saved_to = o.to;
    if (o.domain.empty()) o.domain = o.smtp_host;
    return receive_wanted() ? receive_driver() : send_driver();
}

// Step 13: the work left after the job; returns the job's final result.
int after_job(int result)
{
    RunState& rs = run_state();
    rs.file_list.clear();
    if (!options().rmfile.empty()) remove_file_traced(options().rmfile.c_str(), __FILE__, __LINE__);
    string next;
    while (rs.train_queue.take_first(next)) {
        rs.current_transport().clear_attachments(0);
        rs.attachment_list.clear();
        rs.current_transport().add_attachment(next.c_str(), "", 0);
        rs.attachment_list.add(next);
        result = send_driver();
    }
    return result;
}

int run_once(int argc, const char* const* argv)
{
    select_transport(TransportKind::smtp);
    select_reader(ReaderKind::pop3);
    reset_run_options();
    read_early_options(argc, argv);
    bool have_config = file_exists(call_state().config_file.c_str());
    if (have_config) read_proxy_settings();
    if (have_config) read_config();
    read_options(argc, argv);
    if (!read_web_options(argc, argv)) return after_job(1);

    OptionState& o = options();
    if (o.raw) o.extract = 0;
    use_name_server_in_mx_mode();
    dial(o.connect, true);
    int special = run_special_modes(argc, argv);
    int result = after_job(o.noop ? 0 : run_job());
    return special ? 1 : result;  // a failed special mode fails the run
}

}  // namespace

int engine_main(int argc, const char* const* argv)
{
    clear_report();
    read_environment();
    reset_run_options();
    if (argc <= 1) {
        for (const char* line : usage_lines) report_stream << line << "\r\n";
        return 1;
    }
    refresh_time_zone();
    pre_pass(argc, argv);

    RunState& rs = run_state();
    ClientObjects clients(call_state().meter_file);
    rs.clients = &clients;

    int result;
    for (;;) {
        result = run_once(argc, argv);
        int interval = options().every;
        if (interval < 1) break;
        sleep_ms(static_cast<unsigned long>(interval) * 1000UL);
    }

    dial(options().disconnect, false);
    call_state().saved_web_base.clear();
    free_texts(form_fields());
    rs.clients = nullptr;
    reset_run_options();
    return result;
}

#include "engine/early_options.h"

#include <cstdlib>
#include <cstring>

#include "base/text_utils.h"
#include "engine/option_state.h"

namespace {

// Splits "host[:port]" at its first colon.
void split_host_port(const string& value, string& host, string& port)
{
    long colon = -1;
    for (size_t i = 0; i < value.length(); ++i)
        if (value.char_at(i) == ':') {
            colon = static_cast<long>(i);
            break;
        }
    if (colon < 0) {
        host = value;
        return;
    }
    host = value.substr(0, static_cast<size_t>(colon));
    port = string(value.c_str(static_cast<size_t>(colon) + 1));
}

struct EarlyOption {
    const char* name;
    bool switches_config;
    void (*apply)(const string& value, const char* raw);
};

const EarlyOption early_options[] = {
    {"-host:", true, [](const string& v, const char*) {
         OptionState& o = options();
         o.smtp_host = o.pop3_host = o.imap_host = o.nntp_host = o.ns_host = o.cap_host = v;
     }},
    {"-if:", true, [](const string& v, const char*) { options().interface_address = v; }},
    {"-firewall:", false, [](const string& v, const char*) { options().firewall = v; }},
    {"-port:", false, [](const string& v, const char*) {
         OptionState& o = options();
         o.nntp_port = o.smtp_port = o.pop3_port = o.imap_port = o.cap_port = v;
     }},
    {"-tunnel:", false, [](const string& v, const char*) {
         OptionState& o = options();
         o.tunnel_port = "80";
         split_host_port(v, o.tunnel_host, o.tunnel_port);
     }},
    {"-ldap:", false, [](const string& v, const char*) {
         OptionState& o = options();
         split_host_port(v, o.ldap_host, o.ldap_port);
     }},
    {"-search:", false, [](const string& v, const char*) {
         OptionState& o = options();
         o.ldap_search = v;
         if (o.ldap_host.empty()) o.ldap_host = "localhost";
     }},
    {"-base:", false, [](const string& v, const char*) { options().ldap_base = v; }},
    {"-binddn:", false, [](const string& v, const char*) { options().binddn = v; }},
    {"-bindpwd:", false, [](const string& v, const char*) { options().bindpwd = v; }},
    {"-attrib:", false, [](const string& v, const char*) { options().attrib = v; }},
    {"-tmo:", false, [](const string&, const char* raw) {
         process_state().timeout = static_cast<int>(std::strtol(raw, nullptr, 10));
     }},
    {"-config:", true, [](const string& v, const char*) { call_state().config_file = v; }},
};

}  // namespace

void read_early_options(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i] ? argv[i] : "";
        bool switches = true;  // an element that is no early option does
        for (const EarlyOption& option : early_options) {
            size_t n = std::strlen(option.name);
            if (std::strncmp(arg, option.name, n) != 0) continue;
            option.apply(unquote(arg + n, '"'), arg + n);
            switches = option.switches_config;
            break;
        }
        if (switches) process_state().use_config = 1;
    }
}

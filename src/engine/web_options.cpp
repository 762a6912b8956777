// The web-mail option reader: the whole request arrives as arguments whose
// first one begins with "-cgi"; it is rewritten into "-name:value" tokens.
#include "engine/web_options.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/line_reader.h"
#include "base/text_utils.h"
#include "engine/attachment_options.h"
#include "engine/option_setters.h"
#include "engine/option_state.h"
#include "engine/run_state.h"
#include "engine/url_attachment.h"
#include "base/text_stream.h"
#include "platform/nocase.h"
#include "platform/paths.h"

namespace {

using namespace setters;

struct Token {
    const char* name;   // the token's name as it arrives
    const string& value;
    string& page_type;  // the page's content type
};

enum class Outcome { done, refused, unmatched };

struct WebRow {
    const char* name;
    bool exact;
    Outcome (*apply)(Token& t);
};

bool begins_with_nocase(const char* line, const char* key)
{
    return nocase_compare_n(line, key, std::strlen(key)) == 0;
}

// The value read again as one word ("%255s").
string word(const string& value)
{
    char w[256] = "";
    std::sscanf(value.c_str(), "%255s", w);
    return string(w);
}

// The "-cc" rule: a quoted value up to its closing quote, else the value up
// to a blank or a double quote.
string leading_value(const string& value)
{
    const char* v = value.c_str();
    const char* end;
    if (*v == '"') {
        ++v;
        end = std::strchr(v, '"');
        if (!end) end = v + std::strlen(v);
    } else {
        end = v + std::strcspn(v, " \"");
    }
    return string(v, static_cast<size_t>(end - v));
}

template <string OptionState::*Field>
Outcome append_list(Token& t)
{
    string& list = o().*Field;
    if (!list.empty()) list += ',';
    list += leading_value(t.value);
    list = url_decode(list.c_str());
    return Outcome::done;
}

template <string OptionState::*Field>
Outcome replace_field(Token& t)
{
    o().*Field = url_decode(leading_value(t.value).c_str());
    return Outcome::done;
}

template <string OptionState::*Field>
Outcome decoded_word(Token& t)
{
    o().*Field = url_decode(word(t.value).c_str());
    return Outcome::done;
}

// A path below the base path; a name with ".." in it refuses the request.
bool safe_path(const string& name, string& path)
{
    if (std::strstr(name.c_str(), "..")) {
        error_stream << "Attempted path indirection\r\n";
        return false;
    }
    path = join_path(call_state().base_path, name);
    return true;
}

template <string OptionState::*Field>
Outcome list_file(Token& t)
{
    string path;
    if (!safe_path(word(t.value), path)) return Outcome::refused;
    o().*Field = path;
    return Outcome::done;
}

template <int OptionState::*Field>
Outcome word_number(Token& t)
{
    o().*Field = static_cast<int>(std::strtol(word(t.value).c_str(), nullptr, 10));
    return Outcome::done;
}

template <int OptionState::*Field, int Value>
Outcome set_flag(Token&)
{
    o().*Field = Value;
    return Outcome::done;
}

// The flags that mean here what they mean on the command line.
Outcome as_command_line(Token& t)
{
    for (size_t r = 0; r < option_row_count; ++r) {
        if (std::strcmp(option_rows[r].name, t.name) == 0) {
            option_rows[r].apply(make_option_arg(t.value, ""));
            return Outcome::done;
        }
    }
    return Outcome::unmatched;
}

Outcome to_list(Token& t)
{
    string& to = o().to;
    if (!to.empty()) to += ',';
    to += t.value.replace_all("\"", "");
    to = url_decode(to.c_str());
    return Outcome::done;
}

Outcome host(Token& t)
{
    string h = url_decode(word(t.value).c_str());
    o().imap_host = o().pop3_host = o().smtp_host = o().nntp_host = h;
    return Outcome::done;
}

Outcome message_number(Token& t)
{
    o().msg_number = o().first = static_cast<int32_t>(std::strtol(word(t.value).c_str(), nullptr, 10));
    return Outcome::done;
}

Outcome page_type(Token& t)
{
    t.page_type = url_decode(word(t.value).c_str());
    return Outcome::done;
}

Outcome file(Token& t)
{
    string path;
    if (!safe_path(url_decode(word(t.value).c_str()), path)) return Outcome::refused;
    o().file = path;
    return Outcome::done;
}

Outcome attach(Token& t)
{
    string path;
    if (!safe_path(url_decode(word(t.value).c_str()), path)) return Outcome::refused;
    run_state().current_transport().add_attachment(path.c_str(), "", 0);
    run_state().attachment_list.add(path);
    return Outcome::done;
}

Outcome url(Token& t)
{
    string value = unquote(url_decode(word(t.value).c_str()), '"');
    attach_url_document(value, UrlSource::web_form);
    return Outcome::done;
}

Outcome quoted_printable_level(Token& t)
{
    long level = std::strtol(t.value.c_str(), nullptr, 10);
    o().qp = static_cast<int>(level);
    if (level != 0) o().eight_bit = 0;
    return Outcome::done;
}

Outcome buffer_size(Token& t)
{
    long size = std::strtol(t.value.c_str(), nullptr, 10);
    o().bufsiz = size < 1 ? 1024 : static_cast<int>(size);
    return Outcome::done;
}

Outcome news(Token&)
{
    select_transport(TransportKind::news);
    o().news = 1;
    return Outcome::done;
}

Outcome imap(Token&)
{
    select_reader(ReaderKind::imap);
    o().imap = 1;
    return Outcome::done;
}

// A configuration key that one of the web-mail readers takes.
struct KeyRow {
    const char* key;
    bool long_value;  // read up to 16383 characters instead of 1023
    void (*apply)(const char* value);
};

// Applies, for every line of the configuration file, the first row whose key
// the line begins with (compared without case).
void read_keys(const KeyRow* rows, size_t count, size_t max_line)
{
    LineReader reader(call_state().config_file.c_str(), max_line);
    std::string line, value(16384, '\0');
    while (reader.next(line)) {
        for (size_t i = 0; i < count; ++i) {
            if (!begins_with_nocase(line.c_str(), rows[i].key)) continue;
            value[0] = 0;
            std::sscanf(line.c_str(), rows[i].long_value ? "%*s %16383[^\r\n]" : "%*s %1023[^\r\n]", &value[0]);
            rows[i].apply(value.c_str());
            break;
        }
    }
}

// Body attribute texts: " name=\"value\"".
string attribute(const char* name, const char* value) { return string(" ") + name + "=\"" + value + "\""; }

const KeyRow page_keys[] = {
    {"FONT", false, [](const char* v) { o().font = unquote(v, '"'); }},
    {"TITLE", false, [](const char* v) {
         o().title = unquote(v, '"');
         o().page_header = string("<h2><center>") + o().title + "</center></h2>";
     }},
    {"HEADER", true, [](const char* v) { o().page_header = unquote(v, '"', true); }},
    {"TRAILER", true, [](const char* v) { o().trailer = unquote(v, '"'); }},
    {"BACKGROUND", false, [](const char* v) { o().background = attribute("background", v); }},
    {"TEXT", false, [](const char* v) { o().text_color = attribute("text", v); }},
    {"BGCOLOR", false, [](const char* v) { o().bgcolor = attribute("bgcolor", v); }},
};

const KeyRow web_keys[] = {
    {"TAVRIN_PATH", false, [](const char* v) { call_state().base_path = v; }},
    {"MIME", false, [](const char* v) { o().mime = unquote(v, '"'); }},
    {"CHARSET", false, [](const char* v) { o().charset = unquote(v, '"'); }},
    {"EXTRACT", false, [](const char* v) {
         o().extract_path = unquote(v, '"');
         o().extract = 1;
     }},
};

// Page texts from the configuration file ("-title", "-config").
Outcome page_settings(Token&)
{
    if (!file_exists(call_state().config_file.c_str())) return Outcome::unmatched;
    read_keys(page_keys, sizeof page_keys / sizeof page_keys[0], 16382);
    process_state().use_config = 1;
    return Outcome::done;
}

Outcome remove_messages(Token&)
{
    o().rm = o().brief = o().quiet = 1;
    o().unrm = 0;
    return Outcome::done;
}

Outcome undelete(Token&)
{
    o().rm = o().unrm = 1;
    return Outcome::done;
}

Outcome post(Token&)
{
    o().post = 1;
    o().file.clear();
    return Outcome::done;
}

struct DownloadType {
    const char* ending;
    const char* type;
};

const DownloadType download_types[] = {
    {".htm", "text/html"},   {".txt", "text/plain"}, {".gif", "image/gif"},
    {".jpg", "image/jpeg"},  {".jp2", "image/jp2"},  {".png", "image/png"},
    {".zip", "application/x-zip-compressed"},
};

Outcome download(Token& t)
{
    // A download names a file below the base folder too: ".." refuses it.
    string requested = url_decode(word(t.value).c_str());
    string unused;
    if (!safe_path(requested, unused)) return Outcome::refused;
    o().get = 1;
    o().file = requested;
    const char* name = o().file.c_str();
    const char* dot = std::strrchr(name, '.');
    const char* type = "application/octet-stream";
    for (const DownloadType& d : download_types)
        if (dot && std::strncmp(dot, d.ending, 4) == 0) type = d.type;
    t.page_type = type;
    bool attachment = std::strcmp(type, "application/octet-stream") == 0;
    report_stream << "Content-Disposition: " << (attachment ? "attachment; " : "inline; ") << "filename=\"" << name
                  << "\"\r\n"
                  << "Pragma: no-cache\r\n"
                  << "Content-Location: /" << name << "\r\n";
    t.page_type += string("; name=\"") + name + "\"";
    return Outcome::done;
}

// In the order tried: a name that begins with another entry's name comes
// before that entry.
const WebRow web_rows[] = {
    {"-tolist", false, list_file<&OptionState::tolist>},
    {"-cclist", false, list_file<&OptionState::cclist>},
    {"-bcclist", false, list_file<&OptionState::bcclist>},
    {"-to", false, to_list},
    {"-cc", false, append_list<&OptionState::cc>},
    {"-bcc", false, append_list<&OptionState::bcc>},
    {"-host", false, host},
    {"-sort", false, decoded_word<&OptionState::sort>},
    {"-search", false, decoded_word<&OptionState::search>},
    {"-user", false, decoded_word<&OptionState::user>},
    {"-pass", false, decoded_word<&OptionState::pass>},
    {"-masq", false, decoded_word<&OptionState::masq>},
    {"-mbox", false, decoded_word<&OptionState::mbox>},
    {"-redirect", false, decoded_word<&OptionState::redirect>},
    {"-from", false, replace_field<&OptionState::from>},
    {"-s", false, replace_field<&OptionState::subject>},
    {"-msg", false, message_number},
    {"-mime", false, page_type},
    {"-file", false, file},
    {"-auth", true, set_flag<&OptionState::auth, 1>},
    {"-alt", true, as_command_line},
    {"-a", false, attach},
    {"-url", false, url},
    {"-use_mime", false, word_number<&OptionState::use_mime>},
    {"-qp", false, quoted_printable_level},
    {"-map_8bit", false, quoted_printable_level},
    {"-bufsiz", false, buffer_size},
    {"-uue", true, set_flag<&OptionState::uue, 1>},
    {"-news", true, news},
    {"-imap", true, imap},
    {"-noarchive", true, set_flag<&OptionState::noarchive, 1>},
    {"-upload", true, set_flag<&OptionState::upload, 1>},
    {"-title", true, page_settings},
    {"-config", true, page_settings},
    {"-reply", true, set_flag<&OptionState::reply, 1>},
    {"-forward", true, set_flag<&OptionState::forward, 1>},
    {"-html", true, as_command_line},
    {"-binary", true, as_command_line},
    {"-text", true, as_command_line},
    {"-quiet", true, as_command_line},
    {"-verify", true, as_command_line},
    {"-br", true, as_command_line},
    {"-unique", true, as_command_line},
    {"-extract", true, as_command_line},
    {"-purge", true, as_command_line},
    {"-pu", true, as_command_line},
    {"-import", true, as_command_line},
    {"-rm", true, remove_messages},
    {"-unrm", true, undelete},
    {"-logout", true, set_flag<&OptionState::logout, 1>},
    {"-t", true, set_flag<&OptionState::relay, 1>},
    {"-post", true, post},
    {"-get", false, download},
};

// The arguments joined with "+", entities undone, separators made blanks
// and "=" made ':'.
std::string query_text(int argc, const char* const* argv)
{
    string query(argv[1]);
    for (int i = 2; i < argc; ++i) query = query + "+" + (argv[i] ? argv[i] : "");
    query = query.replace_all("&amp;", "&").replace_all("&lt;", "<").replace_all("&gt;", ">");
    std::string q(query.c_str(), query.length());
    for (char& c : q) {
        if (c == '&' || c == '?') c = ' ';
        else if (c == '=') c = ':';
    }
    return q;
}

Outcome apply_token(const char* name, const string& value, string& type)
{
    Token token{name, value, type};
    for (const WebRow& row : web_rows) {
        bool match = row.exact ? std::strcmp(name, row.name) == 0
                               : std::strncmp(name, row.name, std::strlen(row.name)) == 0;
        if (!match) continue;
        Outcome outcome = row.apply(token);
        if (outcome != Outcome::unmatched) return outcome;
    }
    return Outcome::unmatched;
}

}  // namespace

int read_web_options(int argc, const char* const* argv)
{
    if (argc < 2 || !argv[1] || std::strncmp(argv[1], "-cgi", 4) != 0) return 1;
    string type("text/html");
    o().redirect.clear();
    o().web_mode = 1;
    if (file_exists(call_state().config_file.c_str())) read_keys(web_keys, sizeof web_keys / sizeof web_keys[0], 1022);
    call_state().saved_web_base = call_state().base_path + string(path_separator);

    std::string query = query_text(argc, argv);
    char name[256], value[256];
    // Tokens start at the fifth character. A token is a '-' that follows a
    // separator (a blank from '&' or '?', or the '+' between arguments), so
    // a '-' inside a value ("mary-ann") starts none.
    for (size_t pos = 4; (pos = query.find('-', pos)) != std::string::npos; ++pos) {
        if (pos > 4 && query[pos - 1] != ' ' && query[pos - 1] != '+') continue;
        name[0] = value[0] = 0;
        std::sscanf(query.c_str() + pos, "%255[^:\\ ]%*c%255[^\\ ]", name, value);
        Outcome outcome = apply_token(name, string(value), type);
        if (outcome == Outcome::refused) return 0;
        if (outcome == Outcome::unmatched) report_stream << "NOT MATCHED: " << name << "\r\n";
    }
    report_stream << "Content-Type: " << type << "\r\n\r\n";
    if (!o().html) report_stream << "Pragma: no-cache\r\n\r\n";
    return 1;
}

#include "engine/attachment_options.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "base/dir_list.h"
#include "engine/option_state.h"
#include "engine/run_state.h"
#include "engine/url_attachment.h"
#include "base/text_stream.h"
#include "platform/paths.h"

namespace {

// True when the file is there; otherwise the warning line with errno. A
// folder opens for reading here but has nothing to attach: it is refused
// with EISDIR.
bool exists_or_warn(const char* kind, const char* path)
{
    FILE* f = std::fopen(path, "rb");
    if (f) {
        std::fclose(f);
        if (!is_folder(path)) return true;
        errno = EISDIR;
    }
    error_stream << "WARNING: " << kind << " '" << path << " does not exist! (" << errno << ")\r\n";
    return false;
}

void attach_and_list(const string& path)
{
    run_state().current_transport().add_attachment(path.c_str(), "", 0);
    run_state().attachment_list.add(path);
}

// "file|name": the file and, after the bar, the name.
void split_file_and_name(const string& value, char* file, char* name)
{
    file[0] = name[0] = 0;
    std::sscanf(value.c_str(), "%255[^|]|%255[^|]", file, name);
}

void scan_and_attach(const string& pattern, int recursive)
{
    DirList found(0, 0);
    found.scan(pattern.c_str(), 0, recursive);
    RunState& rs = run_state();
    bool train = options().train != 0;
    DirEntry entry;
    while (found.take_entry(entry)) {
        if (train) rs.train_queue.add(entry.path);
        else attach_and_list(entry.path);
        if (options().verbose >= 1) report_stream << "Attached: " << entry.path << "\r\n";
    }
    string first;
    if (train && rs.train_queue.take_first(first)) attach_and_list(first);
}

}  // namespace

void attach_file(const OptionArg& arg)
{
    if (exists_or_warn("attachment", arg.value.c_str())) attach_and_list(arg.value);
}

void attach_voice(const OptionArg& arg)
{
    char file[256], name[256];
    split_file_and_name(arg.value, file, name);
    if (exists_or_warn("include", file)) run_state().current_transport().add_attachment(file, name, 0);
}

void include_file(const OptionArg& arg)
{
    char file[256], name[256];
    split_file_and_name(arg.value, file, name);
    if (exists_or_warn("include", file))
        run_state().current_transport().add_attachment(file, name[0] ? name : file, 1);
}

void post_body_from_file(const OptionArg& arg)
{
    OptionState& o = options();
    o.post = 2;
    if (arg.value.empty()) return;
    std::string body;
    if (FILE* f = std::fopen(arg.value.c_str(), "rb")) {
        // CR LF and lone LF both end up as CR LF.
        int c, previous = 0;
        while ((c = std::fgetc(f)) != EOF) {
            if (c == '\n' && previous != '\r') body.push_back('\r');
            body.push_back(static_cast<char>(c));
            previous = c;
        }
        std::fclose(f);
    }
    o.msg = string(body.data(), body.size());
}

void attach_url(const OptionArg& arg) { attach_url_document(arg.value, UrlSource::option); }

void attach_directory(const OptionArg& arg) { scan_and_attach(arg.value, 0); }

void attach_directory_tree(const OptionArg& arg) { scan_and_attach(arg.value, 1); }

#include "engine/external_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>

#include "base/text_stream.h"
#include "engine/engine_main.h"
#include "engine/option_state.h"
#include "platform/temp_file.h"

namespace {

constexpr const char* pgp_input = "__PGP___.asc";
constexpr const char* pgp_output = "__PGP___.dat";
constexpr const char* pgp_errors = "__PGP___.err";
constexpr const char* pgp_armour = "-----BEGIN PGP ";

bool write_file(const char* path, const char* data, size_t length)
{
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = length == 0 || std::fwrite(data, 1, length, f) == length;
    return std::fclose(f) == 0 && ok;
}

bool read_file(const char* path, std::string& out)
{
    out.clear();
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) out.append(block, n);
    std::fclose(f);
    return true;
}

// Runs a command line through the shell, after what the report holds so
// far has gone out; its exit status, or -1 when it could not run.
int run_shell(const std::string& line)
{
    report_stream.flush();
    std::fflush(nullptr);
    int status = std::system(line.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The program's command line; output is the file it writes. The shell's
// null device takes what is not kept.
std::string pgp_command(const string& output, bool keep_errors)
{
    const OptionState& o = options();
    std::string line = std::string(o.pgp_program.c_str()) + " +compatible " + pgp_input + " -o " + output.c_str();
    if (!o.pgppass.empty()) line += std::string(" -z \"") + o.pgppass.c_str() + "\"";
    line += keep_errors ? std::string(" 1>") + pgp_errors + " 2>/dev/null" : std::string(" 1>/dev/null 2>/dev/null");
    if (o.verbose > 0) report_stream << line.c_str() << "\r\n";
    return line;
}

bool run_pgp(const char* data, size_t length, const string& output, bool keep_errors)
{
    if (!write_file(pgp_input, data, length)) {
        error_stream << "Could not write '" << pgp_input << "': " << std::strerror(errno) << "\r\n";
        return false;
    }
    run_shell(pgp_command(output, keep_errors));
    remove_file_traced(pgp_input, __FILE__, __LINE__);
    return true;
}

}  // namespace

bool pipe_to_command(const string& command, const char* data, size_t length, bool redirect)
{
    string file = make_temp_file("tav");
    if (file.empty() || !write_file(file.c_str(), data, length)) {
        error_stream << "Could not write the message for: " << command << ": " << std::strerror(errno) << "\r\n";
        if (!file.empty()) std::remove(file.c_str());
        return false;
    }
    std::string line = std::string(command.c_str()) + " " + (redirect ? "<" : "") + " " + file.c_str();
    int status = run_shell(line);
    std::remove(file.c_str());
    if (status != 0) {
        error_stream << "Command failed: " << command << ", exit status " << status << "\r\n";
        return false;
    }
    return true;
}

bool pgp_applies(const char* data, size_t length)
{
    size_t n = std::strlen(pgp_armour);
    return options().pgp && length >= n && std::memcmp(data, pgp_armour, n) == 0;
}

bool pgp_decrypt_text(const char* data, size_t length, std::string& text)
{
    text.clear();
    std::remove(pgp_output);
    if (!run_pgp(data, length, pgp_output, true)) return false;
    read_file(pgp_output, text);
    remove_file_traced(pgp_output, __FILE__, __LINE__);
    bool decrypted = !text.empty();
    if (!decrypted) read_file(pgp_errors, text);
    remove_file_traced(pgp_errors, __FILE__, __LINE__);
    return decrypted;
}

bool pgp_decrypt_file(const char* data, size_t length, const string& path)
{
    std::remove(path.c_str());
    if (!run_pgp(data, length, path, false)) return false;
    std::string out;
    return read_file(path.c_str(), out) && !out.empty();
}

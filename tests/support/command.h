// Running a command line in tests: its status, standard output and error.
#pragma once

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct CommandResult {
    int status;
    std::string out;
    std::string err;
};

inline CommandResult run_command_line(const std::string& command)
{
    // One file per test process: tests run side by side.
    std::string err_file = "/tmp/tavrin-test-stderr-" + std::to_string(getpid());
    FILE* p = popen((command + " 2>" + err_file).c_str(), "r");
    CommandResult r{0, "", ""};
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(err_file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    r.err = s.str();
    std::remove(err_file.c_str());
    return r;
}

// Starting and stopping the real servers of the integration tests through
// the fixture scripts in tools/fixtures.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fixtures {

inline std::string script(const char* name) { return std::string(TAVRIN_SOURCE_DIR) + "/tools/fixtures/" + name; }

inline bool have_program(const char* name)
{
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// A fresh folder with a short path that the servers' own users can read.
inline std::string temp_folder()
{
    char t[] = "/tmp/tvXXXXXX";
    if (!mkdtemp(t)) return "";
    chmod(t, 0755);
    return t;
}

inline int read_pid(const std::string& path)
{
    std::ifstream in(path);
    int pid = 0;
    in >> pid;
    return pid;
}

// Stops a server by its pid and waits until it is gone (a zombie counts).
inline void stop_pid(int pid)
{
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        if (!std::getline(stat, text)) return;
        size_t close = text.rfind(')');
        if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z') return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
}

inline bool in_ci() { return std::getenv("CI") != nullptr; }

// A server that a fixture script starts in a folder of its own and that is
// stopped by the pid in its pid file. arguments gives the script's
// arguments after the folder, from the folder and a free port.
class FixtureServer {
public:
    FixtureServer(const char* script_name, const char* pid_file, const std::string& port,
                  const std::string& arguments_after_folder)
        : dir_(temp_folder()), port_(port), pid_file_(pid_file)
    {
        std::string cmd = script(script_name) + " " + dir_ + " " + arguments_after_folder;
        started_ = std::system(cmd.c_str()) == 0;
    }
    ~FixtureServer()
    {
        stop_pid(read_pid(dir_ + "/" + pid_file_));
        std::system(("rm -rf " + dir_).c_str());
    }
    FixtureServer(const FixtureServer&) = delete;
    FixtureServer& operator=(const FixtureServer&) = delete;
    bool started() const { return started_; }
    const std::string& port() const { return port_; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_, port_, pid_file_;
    bool started_;
};

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace fixtures

// Skips a test whose server cannot be had here, saying so; under CI a
// missing server is a failure.
#define REQUIRE_PROGRAM(name)                                                                   \
    do {                                                                                        \
        if (!fixtures::have_program(name)) {                                                    \
            if (fixtures::in_ci()) FAIL() << name << " is not installed (tools/setup installs it)"; \
            GTEST_SKIP() << name << " is not installed here: skipped";                        \
        }                                                                                       \
    } while (0)

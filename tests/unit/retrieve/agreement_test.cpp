// Parts stored by "tavrin -mail -extract:" against what Python's email
// package decodes for the same parts, over messages we did not write: the
// Python test suite's sample messages and messages made by other composers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../../support/command.h"
#include "../../support/file_text.h"

namespace {

std::string without_cr(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// Where the two differ by design: the first name a part gives is its name
// here, while Python prefers the Content-Disposition filename.
const std::set<std::string> known_differences = {"msg_26.txt clock.bmp"};

}  // namespace

TEST(Agreement, StoredPartsEqualWhatPythonDecodes)
{
    char t[] = "/tmp/tavrin-agree-XXXXXX";
    ASSERT_NE(mkdtemp(t), nullptr);
    std::string dir = t;
    std::string support = std::string(TAVRIN_SOURCE_DIR) + "/tests/support/";
    CommandResult corpus = run_command_line("/usr/bin/python3 " + support + "message_corpus.py " + dir);
    ASSERT_EQ(corpus.status, 0) << corpus.err;
    std::vector<std::string> messages = lines_of(corpus.out);
    ASSERT_GT(messages.size(), 20u);
    size_t compared = 0;
    const std::regex renamed(".*-[0-9]+(\\.[^.]*)?$");  // the harness's own name for a repeated name
    for (const std::string& m : messages) {
        std::string ours = dir + "/ours", theirs = dir + "/theirs";
        std::system(("rm -rf " + ours + " " + theirs + " && mkdir " + ours + " " + theirs).c_str());
        CommandResult r = run_command_line(std::string(TAVRIN_BINARY) + " -mail '-host:" + m + "' -extract:" + ours +
                                           " < /dev/null");
        EXPECT_EQ(r.status, 0) << m << r.err;
        CommandResult py = run_command_line("/usr/bin/python3 " + support + "python_parts.py '" + m + "' " + theirs);
        ASSERT_EQ(py.status, 0) << m << py.err;
        std::string base = m.substr(m.rfind('/') + 1);
        for (const std::string& line : lines_of(py.out)) {
            // name, size, type, text or binary: split from the right (names may hold tabs).
            size_t k3 = line.rfind('\t'), k2 = line.rfind('\t', k3 - 1), k1 = line.rfind('\t', k2 - 1);
            std::string name = line.substr(0, k1), kind = line.substr(k3 + 1);
            if (known_differences.count(base + " " + name)) continue;
            std::string mine = slurp(ours + "/" + name);
            if (mine.empty() && std::regex_match(name, renamed)) continue;
            std::string python = slurp(theirs + "/" + name);
            if (kind == "text") {
                EXPECT_TRUE(without_cr(mine) == without_cr(python)) << base << ": " << name;
            } else {
                EXPECT_EQ(mine.size(), python.size()) << base << ": " << name;
                EXPECT_TRUE(mine == python) << base << ": " << name;
            }
            ++compared;
        }
    }
    EXPECT_GE(compared, 15u);
    std::system(("rm -rf " + dir).c_str());
}

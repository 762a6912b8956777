// "tavrin -mail": a message file parsed, reported, appended to an output
// file, its named parts stored (and kept apart with "-unique").
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "../../support/command.h"
#include "../../support/file_text.h"

namespace {

class MailFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char t[] = "/tmp/tavrin-mail-XXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        dir = t;
        std::ofstream(dir + "/data.bin", std::ios::binary) << std::string("\x01\x02\x03 bytes\r\n", 11);
        std::string compose = std::string(TAVRIN_BINARY) + " -mf -host:" + dir +
                              "/m.eml -from:a@test.example -to:b@test.example -s:Hello -msg:'Body text' -a:" + dir +
                              "/data.bin < /dev/null";
        ASSERT_EQ(run_command_line(compose).status, 0);
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    CommandResult tavrin(const std::string& args)
    {
        return run_command_line(std::string(TAVRIN_BINARY) + " " + args + " < /dev/null");
    }
    std::string dir;
};

}  // namespace

TEST_F(MailFile, ReportOutputFileAndStoredParts)
{
    std::string out = dir + "/out";
    ASSERT_EQ(std::system(("mkdir " + out).c_str()), 0);
    CommandResult r = tavrin("-mail -host:" + dir + "/m.eml -extract:" + out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("There are 1 messages waiting (", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("1. Hello\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("From: a@test.example\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("Body text"), std::string::npos);
    EXPECT_NE(r.out.find("Attachment: data.bin (11 bytes) (application/octet-stream)\r\n"), std::string::npos);
    EXPECT_EQ(slurp(out + "/data.bin"), std::string("\x01\x02\x03 bytes\r\n", 11));

    // Appended to an output file, twice; "-unique" keeps the second copy apart.
    for (int round = 0; round < 2; ++round)
        ASSERT_EQ(tavrin("-mail -host:" + dir + "/m.eml -extract:" + out + " -unique -file:" + dir + "/report.txt").status,
                  0);
    std::string report = slurp(dir + "/report.txt");
    EXPECT_NE(report.find("Attachment: Copy1_data.bin (11 bytes)"), std::string::npos) << report;
    EXPECT_EQ(slurp(out + "/Copy2_data.bin"), slurp(out + "/data.bin"));
}

TEST_F(MailFile, AMissingMessageFileIsAFailure)
{
    CommandResult r = tavrin("-mail -host:" + dir + "/absent.eml");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not retrieve message (1/1), error= -1"), std::string::npos) << r.err;
}

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "engine/option_reader.h"
#include "engine/option_state.h"
#include "engine/run_state.h"
#include "base/text_stream.h"

namespace {

class AttachmentOptions : public ::testing::Test {
protected:
    void SetUp() override
    {
        char t[] = "/tmp/tavrin-attach-XXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        dir = t;
        for (const char* name : {"one.txt", "two.txt", "three.txt"}) std::ofstream(dir + "/" + name) << name;
        run_state().clients = &clients;
        select_transport(TransportKind::smtp);
        reset_run_options();
        clear_report();
    }
    void TearDown() override
    {
        RunState& rs = run_state();
        rs.attachment_list.clear();
        rs.train_queue.clear();
        rs.clients = nullptr;
        reset_run_options();
        std::system(("rm -rf " + dir).c_str());
    }
    void read(std::vector<std::string> args)
    {
        std::vector<const char*> argv{"tavrin"};
        for (const std::string& a : args) argv.push_back(a.c_str());
        read_options(static_cast<int>(argv.size()), argv.data());
    }

    ClientObjects clients{""};
    std::string dir;
};

}  // namespace

TEST_F(AttachmentOptions, MissingFileWarnsWithErrnoAndAttachesNothing)
{
    read({"-a:" + dir + "/missing.pdf"});
    EXPECT_EQ(error_stream.contents(), "WARNING: attachment '" + dir + "/missing.pdf does not exist! (2)\r\n");
    EXPECT_EQ(clients.smtp->attachment_count(), 0);
    EXPECT_EQ(run_state().attachment_list.count(), 0);
}

TEST_F(AttachmentOptions, FolderIsRefusedLikeAMissingFile)
{
    std::string folder = dir + "/folder";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string number = " does not exist! (" + std::to_string(EISDIR) + ")\r\n";
    struct Case {
        std::vector<std::string> args;
        std::string warning;
    } cases[] = {
        {{"-a:" + folder}, "WARNING: attachment '" + folder + number},
        {{"-i:" + folder + "|logo"}, "WARNING: include '" + folder + number},
        {{"-vpim", "-a:" + folder + "|voice"}, "WARNING: include '" + folder + number},
    };
    for (const Case& c : cases) {
        clear_report();
        read(c.args);
        EXPECT_EQ(error_stream.contents(), c.warning) << c.args.back();
        EXPECT_EQ(clients.smtp->attachment_count(), 0) << c.args.back();
        EXPECT_EQ(clients.smtp->related_count(), 0) << c.args.back();
        EXPECT_EQ(run_state().attachment_list.count(), 0) << c.args.back();
    }
}

TEST_F(AttachmentOptions, PositionDecidesTheTransport)
{
    read({"-a:" + dir + "/one.txt", "-news", "-a:" + dir + "/two.txt", "-i:" + dir + "/three.txt|logo"});
    EXPECT_EQ(clients.smtp->attachment_count(), 1);
    EXPECT_EQ(clients.news->attachment_count(), 1);
    EXPECT_EQ(clients.news->related_count(), 1);
    EXPECT_EQ(run_state().attachment_list.count(), 2);  // includes are not listed
}

TEST_F(AttachmentOptions, TrainModeAttachesOneAndQueuesTheRest)
{
    read({"-train", "-v", "-dir:" + dir + "/*.txt"});
    EXPECT_EQ(clients.smtp->attachment_count(), 1);
    EXPECT_EQ(run_state().attachment_list.count(), 1);
    EXPECT_EQ(run_state().train_queue.count(), 2);
    size_t attached = 0, pos = 0;
    const std::string& report = report_stream.contents();
    while ((pos = report.find("Attached: ", pos)) != std::string::npos) ++attached, ++pos;
    EXPECT_EQ(attached, 3u);
}

TEST_F(AttachmentOptions, DirectoryWithoutTrainAttachesEveryFile)
{
    read({"-dir:" + dir + "/*.txt"});
    EXPECT_EQ(clients.smtp->attachment_count(), 3);
    EXPECT_EQ(run_state().train_queue.count(), 0);
}

TEST_F(AttachmentOptions, PostFileBecomesTheRequestBody)
{
    std::ofstream(dir + "/body.txt") << "a=1\nb=2\r\nc=3";
    read({"-post:" + dir + "/body.txt"});
    EXPECT_EQ(options().post, 2);
    EXPECT_STREQ(options().msg.c_str(), "a=1\r\nb=2\r\nc=3");
}

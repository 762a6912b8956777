#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "base/dir_list.h"

namespace {

class DirListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char t[] = "/tmp/tavrin-dirlist-XXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        root = t;
        mkdir((root + "/sub").c_str(), 0755);
        mkdir((root + "/sub/deeper").c_str(), 0755);
        write("a.txt", "12345");
        write("b.TXT", "1");
        write("c.doc", "xx");
        write("sub/d.txt", "abc");
        write("sub/deeper/e.txt", "abcd");
        symlink(root.c_str(), (root + "/sub/loop").c_str());
    }
    void TearDown() override { std::system(("rm -rf " + root).c_str()); }
    void write(const char* name, const char* body) { std::ofstream(root + "/" + name) << body; }

    std::set<std::string> take_all(DirList& list)
    {
        std::set<std::string> names;
        DirEntry e;
        while (list.take_entry(e)) names.insert(std::string(e.path.c_str()).substr(root.size() + 1));
        return names;
    }

    std::string root;
};

}  // namespace

TEST_F(DirListTest, FilesMatchingPatternIgnoringCase)
{
    DirList list(0, 0);
    list.scan((root + "/*.txt").c_str(), 0, 0);
    EXPECT_EQ(list.entry_count(), 2);
    EXPECT_EQ(list.file_count(), 3);     // every regular file is counted
    EXPECT_EQ(list.total_bytes(), 8);
    EXPECT_EQ(take_all(list), (std::set<std::string>{"a.txt", "b.TXT"}));
    DirEntry e;
    EXPECT_EQ(list.take_entry(e), 0);
}

TEST_F(DirListTest, RecursiveScanSkipsLinkedFolders)
{
    DirList list(0, 0);
    list.scan((root + "/*.txt").c_str(), 0, 1);
    EXPECT_EQ(take_all(list), (std::set<std::string>{"a.txt", "b.TXT", "sub/d.txt", "sub/deeper/e.txt"}));
}

TEST_F(DirListTest, NegativeDepthLimitsRecursionAndFoldersCanBeListed)
{
    DirList list(0, 0);
    list.scan((root + "/*.txt").c_str(), 0, -1);
    EXPECT_EQ(take_all(list), (std::set<std::string>{"a.txt", "b.TXT"}));
    DirList dirs(0, 0);
    dirs.scan((root + "\\*").c_str(), 1, 0);  // a Windows-style separator works too
    EXPECT_EQ(take_all(dirs), (std::set<std::string>{"sub"}));
}

TEST_F(DirListTest, MissingFolderLeavesListEmpty)
{
    DirList list(0, 0);
    list.scan((root + "/nope/*").c_str(), 0, 0);
    EXPECT_EQ(list.entry_count(), 0);
}

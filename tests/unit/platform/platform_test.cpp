#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/temp_file.h"
#include "platform/time_zone.h"
#include "platform/trace.h"

TEST(Platform, PathsJoinAndSplitAtEitherSeparator)
{
    EXPECT_STREQ(join_path("dir", "x.txt").c_str(), "dir/x.txt");
    EXPECT_STREQ(join_path("", "x.txt").c_str(), "x.txt");
    EXPECT_EQ(last_separator("a/b\\c"), 3);
    EXPECT_EQ(last_separator("abc"), -1);
    EXPECT_STREQ(to_platform_separators("c:\\temp\\x").c_str(), "c:/temp/x");
}

TEST(Platform, TraceGoesToTheNamedFileOnlyWhenSwitchedOn)
{
    string path = make_temp_file("tavrin-trace-");
    ASSERT_FALSE(path.empty());
    unsetenv("TAVRIN_TRACE");
    trace_reopen();
    EXPECT_FALSE(trace_enabled());
    trace_write("lost");
    setenv("TAVRIN_TRACE", path.c_str(), 1);
    trace_reopen();
    trace_write("Subject: ");
    trace_write("hi\r\n", 4);
    unsetenv("TAVRIN_TRACE");
    trace_reopen();
    std::ifstream in(path.c_str());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "Subject: hi\r\n");
    remove_file(path.c_str());
}

TEST(Platform, TimeZoneBiasFollowsTz)
{
    setenv("TZ", "UTC+5", 1);  // five hours west of Greenwich
    refresh_time_zone();
    EXPECT_EQ(time_zone_bias(), 300);
    setenv("TZ", "UTC-1", 1);
    refresh_time_zone();
    EXPECT_EQ(time_zone_bias(), -60);
    unsetenv("TZ");
    refresh_time_zone();
}

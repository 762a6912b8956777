#include <gtest/gtest.h>

#include "base/lists.h"
#include "base/text_string.h"

namespace {

std::string walk(List<string>& list)
{
    ListIterator<string> it(list);
    std::string out;
    string v;
    for (int more = it.first(v); more; more = it.next(v)) out += v.c_str();
    return out;
}

}  // namespace

TEST(List, AddTakeClearAndCopy)
{
    List<string> list;
    string v;
    EXPECT_EQ(list.take_first(v), 0);
    list.add("a");
    list.add("b");
    list.add("c");
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(walk(list), "abc");
    EXPECT_EQ(list.take_first(v), 1);
    EXPECT_STREQ(v.c_str(), "a");
    List<string> copy;
    copy.add("z");
    copy = list;
    EXPECT_EQ(walk(copy), "bc");
    copy.append_all(list);
    EXPECT_EQ(walk(copy), "bcbc");
    copy.clear();
    EXPECT_EQ(copy.count(), 0);
    EXPECT_EQ(copy.remove_first(), 0);
}

TEST(ListIterator, NextWrapsAndPrevStopsAtFirst)
{
    List<string> list;
    list.add("1");
    list.add("2");
    ListIterator<string> it(list);
    string v;
    EXPECT_EQ(it.next(v), 1);  // behaves as first
    EXPECT_STREQ(v.c_str(), "1");
    EXPECT_EQ(it.prev(v), 0);  // at the first element: stays
    EXPECT_EQ(it.next(v), 1);
    EXPECT_STREQ(v.c_str(), "2");
    EXPECT_EQ(it.next(v), 0);  // off the end
    EXPECT_EQ(it.next(v), 1);  // and round to the front
    EXPECT_STREQ(v.c_str(), "1");
    EXPECT_EQ(it.last(v), 1);
    EXPECT_STREQ(v.c_str(), "2");
    EXPECT_EQ(it.prev(v), 1);
    EXPECT_STREQ(v.c_str(), "1");
}

TEST(ListIterator, InsertBefore)
{
    List<string> list;
    list.add("b");
    list.add("d");
    ListIterator<string> it(list);
    string v;
    it.first(v);
    it.insert_before("a");  // becomes the first node
    it.next(v);
    EXPECT_STREQ(v.c_str(), "d");
    it.insert_before("c");
    EXPECT_EQ(list.count(), 4);
    EXPECT_EQ(walk(list), "abcd");
    EXPECT_EQ(it.prev(v), 1);
    EXPECT_STREQ(v.c_str(), "c");
}

TEST(ListOf, PointersAreNotOwned)
{
    int values[3] = {1, 2, 3};
    IteratedListOf list;
    list.add(&values[1]);
    list.add(&values[2]);
    list.add_first(&values[0]);
    void* p;
    int sum = 0;
    for (int more = list.first(p); more; more = list.next(p)) sum += *static_cast<int*>(p);
    EXPECT_EQ(sum, 6);
    list.rewind();
    EXPECT_EQ(list.next(p), 1);
    EXPECT_EQ(p, &values[0]);
    EXPECT_EQ(list.take_last(p), 1);
    EXPECT_EQ(p, &values[2]);
    EXPECT_EQ(list.take_first(p), 1);
    EXPECT_EQ(p, &values[0]);
    EXPECT_EQ(list.count(), 1);
    list.clear();
    EXPECT_EQ(list.take_first(p), 0);
    EXPECT_EQ(list.take_last(p), 0);
    EXPECT_EQ(values[2], 3);
}

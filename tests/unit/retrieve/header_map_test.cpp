#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "retrieve/header_map.h"

namespace {

std::vector<std::string> entries(List<string>& list)
{
    std::vector<std::string> out;
    ListIterator<string> it(list);
    string s;
    for (int ok = it.first(s); ok; ok = it.next(s)) out.emplace_back(s.c_str(), s.length());
    return out;
}

std::vector<std::string> keys(const HeaderMap& map)
{
    List<string> list;
    EXPECT_EQ(map.keys_to_list(list, false), map.count());
    return entries(list);
}

std::string value_of(const HeaderMap& map, const char* key)
{
    string out("untouched");
    if (!map.find(key, out)) return "<absent>";
    return out.c_str();
}

}  // namespace

TEST(HeaderMap, KeysComeOutInByteOrder)
{
    HeaderMap map;
    // Bytes of 128 and more sort after every ASCII letter.
    const char* in[] = {"subject", "from", "\xC3\xA9t\xC3\xA9", "date", "content-type", "x-mailer",
                        "Received", "to", "content-transfer-encoding", "c"};
    for (const char* k : in) map.insert(k, string("v:") + k);
    EXPECT_EQ(keys(map), (std::vector<std::string>{"Received", "c", "content-transfer-encoding",
                                                     "content-type", "date", "from", "subject", "to",
                                                     "x-mailer", "\xC3\xA9t\xC3\xA9"}));
    EXPECT_EQ(value_of(map, "x-mailer"), "v:x-mailer");
    EXPECT_EQ(value_of(map, "content"), "<absent>");
    EXPECT_EQ(value_of(map, "zzz"), "<absent>");
}

TEST(HeaderMap, InsertReplacesAndFindLeavesOutAloneWhenAbsent)
{
    HeaderMap map;
    map.insert("subject", "first");
    map.insert("subject", "second");
    map.insert("subject", "");
    EXPECT_EQ(map.count(), 1);
    EXPECT_EQ(value_of(map, "subject"), "");
    string out("kept");
    EXPECT_FALSE(map.find("from", out));
    EXPECT_STREQ(out.c_str(), "kept");
}

TEST(HeaderMap, RemoveFirstMiddleLastAndAbsent)
{
    struct Case { const char* key; bool removed; std::vector<std::string> left; } cases[] = {
        {"a", true, {"m", "z"}},
        {"m", true, {"a", "z"}},
        {"z", true, {"a", "m"}},
        {"q", false, {"a", "m", "z"}},
        {"", false, {"a", "m", "z"}},
    };
    for (const auto& c : cases) {
        HeaderMap map;
        for (const char* k : {"m", "z", "a"}) map.insert(k, k);
        EXPECT_EQ(map.remove(c.key), c.removed) << c.key;
        EXPECT_EQ(keys(map), c.left) << c.key;
        EXPECT_EQ(value_of(map, c.key), "<absent>") << c.key;
        EXPECT_FALSE(map.remove(c.key)) << c.key;
        for (const auto& k : c.left) EXPECT_EQ(value_of(map, k.c_str()), k) << c.key;
    }
    HeaderMap map;
    map.insert("only", "1");
    EXPECT_TRUE(map.remove("only"));
    EXPECT_EQ(map.count(), 0);
    EXPECT_TRUE(keys(map).empty());
    map.insert("again", "2");
    EXPECT_EQ(keys(map), std::vector<std::string>{"again"});
}

TEST(HeaderMap, KeysToListAppendsOrPrependsInAscendingOrder)
{
    HeaderMap map;
    for (const char* k : {"to", "date", "from"}) map.insert(k, "x");
    struct Case { bool at_front; std::vector<std::string> before, after; } cases[] = {
        {false, {}, {"date", "from", "to"}},
        {true, {}, {"date", "from", "to"}},
        {false, {"one", "two"}, {"one", "two", "date", "from", "to"}},
        {true, {"one", "two"}, {"date", "from", "to", "one", "two"}},
    };
    for (const auto& c : cases) {
        List<string> list;
        for (const auto& s : c.before) list.add(s.c_str());
        EXPECT_EQ(map.keys_to_list(list, c.at_front), 3);
        EXPECT_EQ(list.count(), static_cast<int>(c.after.size()));
        EXPECT_EQ(entries(list), c.after) << c.at_front;
    }
    HeaderMap none;
    List<string> list;
    list.add("kept");
    EXPECT_EQ(none.keys_to_list(list, true), 0);
    EXPECT_EQ(entries(list), std::vector<std::string>{"kept"});
}

// Inserts, replacements, removals and look-ups on 100,000 random keys agree
// with std::map; the map is destroyed full at the end.
TEST(HeaderMap, AgreesWithStdMapOnRandomKeys)
{
    std::srand(12345);
    std::mt19937 gen(2024);
    auto random_key = [&gen] {
        static const char bytes[] = "abcdefghij-\x80\xFF";
        std::string k(1 + gen() % 6, 'a');
        for (char& c : k) c = bytes[gen() % (sizeof bytes - 1)];
        return k;
    };
    HeaderMap map;
    std::map<std::string, std::string> model;
    for (int i = 0; i < 200000; ++i) {  // about 100,000 of them inserts
        std::string k = random_key();
        std::string v = std::to_string(i);
        switch (gen() % 4) {
        case 0:
            ASSERT_EQ(map.remove(k.c_str()), model.erase(k) == 1) << k;
            break;
        case 1: {
            string out;
            auto at = model.find(k);
            ASSERT_EQ(map.find(k.c_str(), out), at != model.end()) << k;
            if (at != model.end()) {
                ASSERT_EQ(out.c_str(), at->second);
            }
            break;
        }
        default:
            map.insert(k.c_str(), v.c_str());
            model[k] = v;
        }
    }
    ASSERT_EQ(map.count(), static_cast<int>(model.size()));
    std::vector<std::string> want;
    for (const auto& [k, v] : model) {
        want.push_back(k);
        ASSERT_EQ(value_of(map, k.c_str()), v);
    }
    ASSERT_EQ(keys(map), want);
}

TEST(HeaderMap, ClearThenReuse)
{
    HeaderMap map;
    for (int i = 0; i < 100000; ++i) map.insert(std::to_string(i).c_str(), "v");
    EXPECT_EQ(map.count(), 100000);
    map.clear();
    EXPECT_EQ(map.count(), 0);
    EXPECT_TRUE(keys(map).empty());
    EXPECT_EQ(value_of(map, "5"), "<absent>");
    EXPECT_FALSE(map.remove("5"));
    map.insert("subject", "after");
    map.insert("from", "me");
    EXPECT_EQ(keys(map), (std::vector<std::string>{"from", "subject"}));
    EXPECT_EQ(value_of(map, "subject"), "after");
    map.clear();
    map.clear();
    EXPECT_EQ(map.count(), 0);
}

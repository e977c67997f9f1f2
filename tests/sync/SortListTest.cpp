#include "sync/plan/SortList.h"
#include "sync/plan/SyncPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace duplora;

namespace {
TFileEntry E(std::string_view path, std::int64_t size = 0) {
    TFileEntry e;
    e.RelPath = path;
    e.Size = size;
    return e;
}
} // namespace

TEST(SortList, FindGivesComplementOfInsertionPoint) {
    TSortList list;
    EXPECT_EQ(list.Find("/B"), -1);
    list.Add(E("/A"));
    list.Add(E("/C"));
    EXPECT_EQ(list.Find("/A"), 0);
    EXPECT_EQ(list.Find("/C"), 1);
    EXPECT_EQ(list.Find("/B"), ~1);
    EXPECT_EQ(list.Find("/D"), ~2);
    EXPECT_EQ(list.Find("/0"), ~0);
}

TEST(SortList, ExactAndFoldedComparison) {
    EXPECT_NE(CompareKeysExact("/readme.TXT", "/README.txt"), 0);
    EXPECT_EQ(CompareKeysFolded("/readme.TXT", "/README.txt"), 0);
    // Only a-z fold: UTF-8 letters keep their case.
    EXPECT_NE(CompareKeysFolded("/\xC3\x84.txt", "/\xC3\xA4.txt"), 0);
    // Unsigned bytes: a non-ASCII name sorts after ASCII ones.
    EXPECT_LT(CompareKeysExact("/z", "/\xC3\xA4"), 0);
    // A prefix sorts first.
    EXPECT_LT(CompareKeysExact("/a", "/ab"), 0);
    EXPECT_LT(CompareKeysFolded("/A", "/ab"), 0);

    TSortList folded;
    folded.FoldCase = true;
    folded.Add(E("/Readme.txt"));
    EXPECT_EQ(folded.Find("/README.TXT"), 0);
    TSortList exact;
    exact.Add(E("/Readme.txt"));
    EXPECT_LT(exact.Find("/README.TXT"), 0);
}

TEST(SortList, DuplicatesStayUnlessUnique) {
    TSortList list;
    list.Add(E("/a", 1));
    list.Add(E("/b", 2));
    EXPECT_EQ(list.Add(E("/a", 3)), 0); // before the equal entry
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(0).Size, 3);
    EXPECT_EQ(list.Items(1).Size, 1);

    TSortList unique;
    unique.Unique = true;
    unique.Add(E("/a", 1));
    EXPECT_EQ(unique.Add(E("/a", 2)), -1);
    EXPECT_EQ(unique.Count(), 1);
    EXPECT_EQ(unique.Items(0).Size, 1);
    // The bulk path drops later duplicates too, keeping the first one seen.
    unique.Append(E("/c", 5));
    unique.Append(E("/a", 9));
    unique.Sort();
    ASSERT_EQ(unique.Count(), 2);
    EXPECT_EQ(unique.Items(0).Size, 1);
}

TEST(SortList, BulkAppendMatchesSortedOrderAndStaysSearchable) {
    std::vector<std::string> keys;
    for (int i = 0; i < 5000; ++i)
        keys.push_back("/d" + std::to_string(i % 37) + "/f" + std::to_string(i));
    std::vector<std::string> shuffled = keys;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(42));

    TSortList list;
    for (int i = 0; i < static_cast<int>(shuffled.size()); ++i)
        list.Append(E(shuffled[static_cast<std::size_t>(i)], i));
    // A single Add after bulk appends settles the pending part first.
    list.Add(E("/d0/extra"));
    ASSERT_EQ(list.Count(), 5001);
    for (int i = 1; i < list.Count(); ++i)
        EXPECT_LT(CompareKeysExact(list.Items(i - 1).RelPath, list.Items(i).RelPath), 0) << i;
    for (const std::string& k : keys)
        EXPECT_GE(list.Find(k), 0) << k;
    EXPECT_LT(list.Find("/d0/f99999"), 0);

    // Append after a sort merges the new part in.
    list.Append(E("/a-first"));
    list.Append(E("/zz-last"));
    EXPECT_EQ(list.Find("/a-first"), 0);
    EXPECT_EQ(list.Find("/zz-last"), list.Count() - 1);
}

TEST(SortList, CustomCompareAndInsert) {
    TSortList list;
    // Reverse order.
    list.OnCompare = [](std::string_view a, std::string_view b) { return -CompareKeysExact(a, b); };
    list.Add(E("/a"));
    list.Add(E("/c"));
    list.Add(E("/b"));
    EXPECT_EQ(list.Items(0).RelPath, "/c");
    EXPECT_EQ(list.Items(2).RelPath, "/a");
    list.Insert(0, E("/x"));
    EXPECT_EQ(list.Items(0).RelPath, "/x");
    EXPECT_THROW(list.Insert(9, E("/y")), std::out_of_range);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(PathArena, ViewsSurviveGrowthAndLongPaths) {
    PathArena arena;
    std::vector<std::string_view> views;
    for (int i = 0; i < 20000; ++i)
        views.push_back(arena.Store("/folder/file-" + std::to_string(i) + ".dat"));
    const std::string longPath(300000, 'x'); // longer than a block
    const std::string_view big = arena.Store(longPath);
    for (int i = 0; i < 20000; ++i)
        ASSERT_EQ(views[static_cast<std::size_t>(i)], "/folder/file-" + std::to_string(i) + ".dat");
    EXPECT_EQ(big, longPath);
    EXPECT_TRUE(arena.Store("").empty());
}

#include "ui/AdvOptions.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>

using namespace duplora;

namespace {

// A memo text whose stored form (lines plus CR LF each) is exactly n bytes.
std::string memoOfStoredSize(std::size_t n) {
    // "x...x" lines of 8 bytes + CR LF = 10 bytes each, then one shorter line.
    std::string memo;
    std::size_t left = n;
    while (left >= 10) {
        memo += std::string(8, 'x') + "\n";
        left -= 10;
    }
    EXPECT_GE(left, 2u) << "pick a size whose last line has room for CR LF";
    memo += std::string(left - 2, 'y');
    return memo;
}

} // namespace

TEST(AdvOptionsRules, MemoAndStoredFormsConvertBothWays) {
    EXPECT_EQ(MemoToStored(""), "");
    EXPECT_EQ(MemoToStored("*.tmp"), "*.tmp\r\n");
    EXPECT_EQ(MemoToStored("*.tmp\n"), "*.tmp\r\n"); // a final break adds no line
    EXPECT_EQ(MemoToStored("a\n\nb"), "a\r\n\r\nb\r\n");
    EXPECT_EQ(MemoToStored("a\r\nb"), "a\r\nb\r\n");
    EXPECT_EQ(StoredToMemo("a\r\nb\r\n"), "a\nb");
    EXPECT_EQ(StoredToMemo(""), "");
    EXPECT_EQ(MemoToStored(StoredToMemo("*.tmp\r\n*.bak\r\n*.~*\r\n")),
              "*.tmp\r\n*.bak\r\n*.~*\r\n");
    EXPECT_EQ(MemoToStored(memoOfStoredSize(255)).size(), 255u);
    EXPECT_EQ(MemoToStored(memoOfStoredSize(256)).size(), 256u);
}

TEST(AdvOptionsRules, SpinFieldReadsAnyTextIntoItsRange) {
    EXPECT_EQ(SpinValue("250", 0, 10000), 250);
    EXPECT_EQ(SpinValue("20000", 0, 10000), 10000);
    EXPECT_EQ(SpinValue("99999999999999999999", 0, 999), 999);
    EXPECT_EQ(SpinValue("-5", 0, 99), 0);
    EXPECT_EQ(SpinValue("", 0, 99), 0);
    EXPECT_EQ(SpinValue("abc", 0, 99), 0);
    EXPECT_EQ(SpinValue("1.5", 0, 99), 0);
    EXPECT_EQ(SpinValue("12abc", 3, 99), 3);
    EXPECT_EQ(SpinValue(" 42 ", 0, 99), 42);
}

TEST(AdvOptionsRules, OnlyTickedListsAreCheckedInOrderAt255Bytes) {
    AdvValues v;
    v.ignoreOn = true;
    v.ignoreText = memoOfStoredSize(255);
    EXPECT_EQ(FindOverlongList(v), AdvList::None);
    v.ignoreText = memoOfStoredSize(256);
    EXPECT_EQ(FindOverlongList(v), AdvList::Ignore);
    v.ignoreOn = false; // unticked lists are not checked
    EXPECT_EQ(FindOverlongList(v), AdvList::None);

    v.onlyOn = v.ignoreOn = v.deleteOn = true;
    v.onlyText = v.ignoreText = v.deleteText = std::string(300, 'z');
    EXPECT_EQ(FindOverlongList(v), AdvList::Only);
    v.onlyText = "*.txt";
    EXPECT_EQ(FindOverlongList(v), AdvList::Ignore);
    v.ignoreText = "";
    EXPECT_EQ(FindOverlongList(v), AdvList::Delete);
}

TEST(AdvOptionsRules, InvalidMasksAreFoundInTickedListsOnly) {
    AdvValues v;
    v.onlyOn = v.ignoreOn = v.deleteOn = true;
    v.onlyText = "*.txt\n\na?c";
    v.ignoreText = "ok*\n[abc";
    v.deleteText = "a-]";
    EXPECT_EQ(FindInvalidMask(v).which, AdvList::Ignore);
    EXPECT_EQ(FindInvalidMask(v).message, "'[abc' is an invalid mask at (1)");
    v.ignoreOn = false;
    EXPECT_EQ(FindInvalidMask(v).which, AdvList::None);
    v.onlyText = "x\n" + std::string(31, '*');
    EXPECT_EQ(FindInvalidMask(v).which, AdvList::Only);
}

TEST(AdvOptionsRules, LoadShowsTheRecordAndStoreWritesItBack) {
    TaskRecord r = TaskRecord::MakeNew("d");
    r.set_net_user("alice");
    r.set_net_password("s3cret");
    r.set_only_masks_enabled(true);
    r.set_only_masks("*.doc\r\n*.xls\r\n");
    r.set_ignore_masks_enabled(false);
    r.set_ignore_masks("*.tmp\r\n");
    r.set_delete_masks_enabled(true);
    r.set_delete_masks("");
    r.set_auto_mode(true);
    r.set_speed_limit(512);
    r.set_max_errors(7);
    r.set_ignore_hour_difference(false);
    r.set_tolerance_seconds(5);

    const AdvValues v = LoadAdvValues(r);
    EXPECT_EQ(v.netUser, "alice");
    EXPECT_EQ(v.netPassword, "s3cret");
    EXPECT_TRUE(v.onlyOn);
    EXPECT_EQ(v.onlyText, "*.doc\n*.xls");
    EXPECT_FALSE(v.ignoreOn);
    EXPECT_EQ(v.ignoreText, "*.tmp");
    EXPECT_TRUE(v.deleteOn);
    EXPECT_EQ(v.deleteText, "");
    EXPECT_TRUE(v.autoMode);
    EXPECT_EQ(v.speed, 512);
    EXPECT_EQ(v.maxErrors, 7);
    EXPECT_FALSE(v.ignoreHour);
    EXPECT_EQ(v.shiftSeconds, 5);

    // Storing what was loaded changes no byte of the record.
    TaskRecord copy = r;
    StoreAdvValues(v, copy);
    EXPECT_TRUE(copy == r);

    AdvValues w = v;
    w.netUser = "bob";
    w.onlyOn = false;
    w.speed = 0;
    w.maxErrors = 999;
    w.ignoreHour = true;
    StoreAdvValues(w, copy);
    EXPECT_EQ(copy.net_user(), "bob");
    EXPECT_FALSE(copy.only_masks_enabled());
    EXPECT_EQ(copy.only_masks(), "*.doc\r\n*.xls\r\n");
    EXPECT_EQ(copy.speed_limit(), 0);
    EXPECT_EQ(copy.max_errors(), 999);
    EXPECT_TRUE(copy.ignore_hour_difference());
    EXPECT_EQ(copy.description(), "d"); // fields the dialog does not show stay
}

TEST(AdvOptionsRules, StoredValuesOutsideTheFieldsAreShownInRange) {
    TaskRecord r = TaskRecord::MakeNew("d");
    r.set_speed_limit(-4);
    r.set_max_errors(5000);
    r.set_tolerance_seconds(500);
    AdvValues v = LoadAdvValues(r);
    EXPECT_EQ(v.speed, 0);
    EXPECT_EQ(v.maxErrors, 999);
    EXPECT_EQ(v.shiftSeconds, 99);
    r.set_speed_limit(123456);
    r.set_time_tolerance(std::nan(""));
    v = LoadAdvValues(r);
    EXPECT_EQ(v.speed, 10000);
    EXPECT_EQ(v.shiftSeconds, 0);
}

TEST(AdvOptionsRules, ToleranceSecondsRoundTripThroughTheStoredDays) {
    TaskRecord r = TaskRecord::MakeNew("d");
    AdvValues v = LoadAdvValues(r);
    v.shiftSeconds = 0;
    StoreAdvValues(v, r);
    EXPECT_DOUBLE_EQ(r.time_tolerance(), 0.00000001);
    EXPECT_EQ(LoadAdvValues(r).shiftSeconds, 0);
    v.shiftSeconds = 2;
    StoreAdvValues(v, r);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(r.time_tolerance()), TaskRecord::kTwoSecondsBits);
    for (int s = 0; s <= 99; ++s) {
        v.shiftSeconds = s;
        StoreAdvValues(v, r);
        ASSERT_EQ(LoadAdvValues(r).shiftSeconds, s);
    }
}

TEST(AdvOptionsRules, UntickedOverlongListIsCutAt255BytesOnACharacterBoundary) {
    TaskRecord r = TaskRecord::MakeNew("d");
    AdvValues v = LoadAdvValues(r);
    v.deleteOn = false;
    v.deleteText = std::string(300, 'q');
    StoreAdvValues(v, r);
    EXPECT_EQ(r.delete_masks(), std::string(255, 'q'));

    // 254 ASCII bytes then a 3-byte character: the character does not fit.
    v.deleteText = std::string(254, 'a') + "\xE6\x96\x87" + "zz";
    StoreAdvValues(v, r);
    EXPECT_EQ(r.delete_masks(), std::string(254, 'a'));
}

TEST(AdvOptionsRules, DefaultsTouchOnlyTheMaskSwitchesIgnoreListAndAutoMode) {
    AdvValues v;
    v.onlyOn = true;
    v.onlyText = "*.a";
    v.deleteOn = true;
    v.deleteText = "*.b";
    v.autoMode = true;
    v.netUser = "u";
    v.speed = 77;
    v.maxErrors = 3;
    v.ignoreHour = true;
    v.shiftSeconds = 9;
    AdvValues expected = v;
    ApplyAdvDefaults(v);
    expected.onlyOn = false;
    expected.ignoreOn = true;
    expected.ignoreText = "*.tmp\n*.bak\n*.~*";
    expected.deleteOn = false;
    expected.autoMode = false;
    EXPECT_EQ(v, expected);
}

TEST(AdvOptionsRules, EnabledStateOnShowDependsOnSyncType) {
    AdvValues v;
    v.onlyOn = true;
    v.ignoreOn = true;
    v.deleteOn = false;
    AdvEnabled folder = EnabledOnShow(SyncType::Folder, v);
    EXPECT_TRUE(folder.chkOnlyType && folder.chkIgnore && folder.chkDel);
    EXPECT_TRUE(folder.liOnlyType);
    EXPECT_TRUE(folder.liIgnore);
    EXPECT_FALSE(folder.liDel);

    AdvEnabled file = EnabledOnShow(SyncType::File, v);
    EXPECT_TRUE(file.chkOnlyType);
    EXPECT_FALSE(file.chkIgnore || file.chkDel);
    EXPECT_FALSE(file.liOnlyType || file.liIgnore || file.liDel);
}

// The dialog shows the smallest moved file in KB; Ok must not round a byte
// figure set with duplora-cli unless the user changed it.
TEST(AdvOptionsRules, MoveOptionsRoundTripWithoutRoundingAByteFigure) {
    TaskRecord r = TaskRecord::MakeNew("");
    AdvValues v = LoadAdvValues(r);
    EXPECT_FALSE(v.detectMoves);
    EXPECT_EQ(v.moveMinKb, 64); // stored 0 = the default 64 KiB
    v.detectMoves = true;
    StoreAdvValues(v, r);
    EXPECT_TRUE(r.detect_moves());
    EXPECT_EQ(r.move_min_size(), TaskRecord::kDefaultMoveMinSize);

    r.set_move_min_size(1500);
    v = LoadAdvValues(r);
    EXPECT_EQ(v.moveMinKb, 1);
    StoreAdvValues(v, r);
    EXPECT_EQ(r.move_min_size(), 1500u);
    v.moveMinKb = 2048;
    StoreAdvValues(v, r);
    EXPECT_EQ(r.move_min_size(), 2048u * 1024u);
}

// The memory's answers go through the rulebook: a delete kind takes only
// its own actions, and what is allowed is stored and read back as chosen.
TEST(AdvOptionsRules, RememberAnswersAreCheckedAndRoundTrip) {
    using A = SyncAction;
    const struct {
        A inHost, inMirror;
        const char* refusal; // "": stored
    } cases[] = {
        {A::MirrorToHost, A::Ignore, ""},
        {A::HostToMirror, A::Delete, "'to-mirror' is not allowed"},
        {A::Delete, A::MirrorToHost, "'to-host' is not allowed"},
    };
    for (const auto& c : cases) {
        TaskRecord r = TaskRecord::MakeNew("");
        AdvValues v = LoadAdvValues(r);
        v.remember = true;
        v.deletedInHost = c.inHost;
        v.deletedInMirror = c.inMirror;
        v.conflict = ConflictAction::NewerWins;
        const std::string refusal = FieldRefusal(v, r);
        EXPECT_TRUE(refusal.starts_with(c.refusal) && refusal.empty() == !*c.refusal) << refusal;
        if (refusal.empty()) {
            StoreAdvValues(v, r);
            EXPECT_EQ(LoadAdvValues(r), v);
        }
    }
}

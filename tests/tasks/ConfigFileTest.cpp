#include "tasks/ConfigFile.h"

#include "tasks/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

using namespace duplora;
using duplora::testing::ReadBytes;
using duplora::testing::TempFolder;
using duplora::testing::WriteBytes;

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutInt32(Bytes& out, std::int32_t v) {
    for (int s = 0; s < 32; s += 8)
        out.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> s));
}
void PutText(Bytes& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
}
void PutHeader(Bytes& out, std::int32_t version, std::int32_t recordSize) {
    PutInt32(out, version);
    PutInt32(out, recordSize);
    out.resize(kConfigHeaderSize, 0);
}
// `size` stored bytes of `r`, zero-padded when the stored record is longer.
void PutRecord(Bytes& out, const TaskRecord& r, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        out.push_back(i < TaskRecord::kSize ? r.bytes()[i] : std::uint8_t{0xEE});
}
ScheduleRecord Schedule(std::uint8_t fill) {
    ScheduleRecord s;
    for (std::size_t i = 0; i < s.bytes.size(); ++i)
        s.bytes[i] = static_cast<std::uint8_t>(fill + i);
    return s;
}

TaskRecord SampleRecord(int n) {
    TaskRecord r = TaskRecord::MakeNew("description " + std::to_string(n));
    r.set_host_path("/data/host" + std::to_string(n));
    r.set_mirror_path("/backup/mirror" + std::to_string(n));
    r.set_folder_list("/skip\r\n");
    r.set_only_in_host_action(SyncAction::HostToMirror);
    r.set_empty_folder_action(SyncAction::Delete);
    r.set_auto_mode(n % 2 == 0);
    r.set_speed_limit(100 + n);
    r.set_max_errors(static_cast<std::uint16_t>(n));
    r.set_ignore_masks("*.tmp\r\n");
    r.set_net_user("user");
    r.set_tolerance_seconds(n % 99);
    r.bytes()[5] = static_cast<std::uint8_t>(n); // reserved bytes travel unchanged
    return r;
}

TaskList SampleList(int tasks, int schedules) {
    TaskList list;
    for (int i = 0; i < tasks; ++i)
        list.append("Task" + std::to_string(i), SampleRecord(i));
    for (int i = 0; i < schedules; ++i)
        list.schedules().push_back(Schedule(static_cast<std::uint8_t>(i * 3)));
    return list;
}

TaskList Parse(const Bytes& b) {
    TaskList list;
    ParseConfiguration(b.data(), b.size(), list);
    return list;
}

void ExpectSameContents(const TaskList& a, const TaskList& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].name, b[i].name) << i;
        EXPECT_TRUE(a[i].record == b[i].record) << i;
    }
    EXPECT_EQ(a.schedules(), b.schedules());
}

// The part of a loading record an old 2092-byte record does not reach.
void ExpectLoadDefaultsFrom2092(const TaskRecord& r) {
    const TaskRecord base = TaskRecord::MakeForLoading();
    EXPECT_TRUE(std::equal(r.bytes().begin() + TaskRecord::kOldSize, r.bytes().end(),
                           base.bytes().begin() + TaskRecord::kOldSize));
    EXPECT_EQ(r.description(), "");
    EXPECT_EQ(r.speed_limit(), 3000);
    EXPECT_EQ(r.max_errors(), 10);
    EXPECT_TRUE(r.ignore_hour_difference());
    EXPECT_EQ(std::bit_cast<std::uint64_t>(r.time_tolerance()), TaskRecord::kTwoSecondsBits);
}

} // namespace

TEST(ConfigFile, EmptyListIsHeaderNulAndZeroCount) {
    const Bytes b = SerializeConfiguration(TaskList{});
    ASSERT_EQ(b.size(), 1029u);
    Bytes expected;
    PutHeader(expected, 65627, 3458);
    expected.push_back(0);
    PutInt32(expected, 0);
    EXPECT_EQ(b, expected);
    EXPECT_TRUE(Parse(b).empty());
}

TEST(ConfigFile, CurrentLayoutByteForByte) {
    TaskList list = SampleList(2, 1);
    list[0].name = "";
    Bytes expected;
    PutHeader(expected, 65627, 3458);
    PutText(expected, std::string("\r\nTask1\r\n") + '\0');
    PutRecord(expected, list[0].record, 3458);
    PutRecord(expected, list[1].record, 3458);
    PutInt32(expected, 1);
    expected.insert(expected.end(), list.schedules()[0].bytes.begin(),
                    list.schedules()[0].bytes.end());
    EXPECT_EQ(SerializeConfiguration(list), expected);
}

TEST(ConfigFile, RoundTripKeepsOrderAndDropsCheckMarks) {
    TaskList list = SampleList(5, 4);
    list.move(4, 0);
    list[1].checked = true;
    list[0].name = "Zeta";
    list.setChanged();
    TaskList back = Parse(SerializeConfiguration(list));
    ExpectSameContents(list, back);
    EXPECT_FALSE(back.changed());
    for (const auto& t : back.tasks())
        EXPECT_FALSE(t.checked);
}

TEST(ConfigFile, OldestLayoutWithTextNamesReadsAsOldest) {
    // "Back" as a 32-bit integer is far above any header version; the file
    // is still the oldest layout because its padding is not zero.
    const TaskRecord r0 = SampleRecord(1), r1 = SampleRecord(2);
    for (const std::string names :
         {"Backup\r\nDocs\r\n", "Ab\r\nCd\r\n", "\xE6\x96\x87\r\nx\r\n"}) {
        Bytes b;
        PutText(b, names);
        b.push_back(0);
        PutRecord(b, r0, 2092);
        PutRecord(b, r1, 2092);
        PutInt32(b, 2);
        const ScheduleRecord s0 = Schedule(1), s1 = Schedule(100);
        b.insert(b.end(), s0.bytes.begin(), s0.bytes.end());
        b.insert(b.end(), s1.bytes.begin(), s1.bytes.end());

        TaskList list = Parse(b);
        ASSERT_EQ(list.size(), 2u) << names;
        EXPECT_EQ(list[0].name + "\r\n" + list[1].name + "\r\n", names);
        EXPECT_EQ(list[0].record.host_path(), "/data/host1");
        EXPECT_EQ(list[1].record.folder_list(), "/skip\r\n");
        EXPECT_EQ(list[1].record.only_in_host_action(), SyncAction::HostToMirror);
        EXPECT_EQ(list[0].record.bytes()[5], 1);
        ExpectLoadDefaultsFrom2092(list[0].record);
        ExpectLoadDefaultsFrom2092(list[1].record);
        EXPECT_EQ(list.schedules(), (std::vector<ScheduleRecord>{s0, s1}));
    }
}

TEST(ConfigFile, OldestLayoutWithEmptyOrTinyFirstName) {
    // An empty first line puts CR LF at offset 0; a file whose first int32
    // is below the header versions was always read this way.
    Bytes b;
    PutText(b, "\r\nA\r\n");
    b.push_back(0);
    PutRecord(b, SampleRecord(3), 2092);
    PutRecord(b, SampleRecord(4), 2092);
    TaskList list = Parse(b);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "");
    EXPECT_EQ(list[1].name, "A");
    EXPECT_EQ(list[1].record.mirror_path(), "/backup/mirror4");
    EXPECT_TRUE(list.schedules().empty()); // no schedule part at all
}

TEST(ConfigFile, HeaderWith2092RecordsReadsLikeOldestAtOffset1024) {
    Bytes b;
    PutHeader(b, 65589, 2092);
    PutText(b, std::string("One\r\nTwo\r\n") + '\0');
    PutRecord(b, SampleRecord(1), 2092);
    PutRecord(b, SampleRecord(2), 2092);
    PutInt32(b, 0);
    TaskList list = Parse(b);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].name, "Two");
    EXPECT_EQ(list[1].record.host_path(), "/data/host2");
    ExpectLoadDefaultsFrom2092(list[1].record);

    // Saved again it has the current layout, old fields with load defaults.
    const Bytes saved = SerializeConfiguration(list);
    EXPECT_EQ(saved.size(), 1024u + 11 + 2 * 3458 + 4);
    ExpectSameContents(Parse(saved), list);
}

TEST(ConfigFile, HeaderWithLongerRecordsSkipsTheSurplus) {
    Bytes b;
    PutHeader(b, 65700, 4000);
    PutText(b, std::string("a\r\nb\r\n") + '\0');
    PutRecord(b, SampleRecord(1), 4000); // bytes 3458..3999 are 0xEE
    PutRecord(b, SampleRecord(2), 4000);
    PutInt32(b, 1);
    const ScheduleRecord s = Schedule(7);
    b.insert(b.end(), s.bytes.begin(), s.bytes.end());
    TaskList list = Parse(b);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[0].record == SampleRecord(1));
    EXPECT_TRUE(list[1].record == SampleRecord(2));
    ASSERT_EQ(list.schedules().size(), 1u);
    EXPECT_EQ(list.schedules()[0], s);
}

TEST(ConfigFile, HeaderWithShortRecordsKeepsDefaultsBeyond) {
    Bytes b;
    PutHeader(b, 65627, 560);
    PutText(b, std::string("a\r\nb\r\n") + '\0');
    PutRecord(b, SampleRecord(1), 560);
    PutRecord(b, SampleRecord(2), 560);
    PutInt32(b, 0);
    TaskList list = Parse(b);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].record.host_path(), "/data/host2");
    EXPECT_EQ(list[1].record.mirror_path(), "/bac"); // starts at 556, cut at 560
    EXPECT_EQ(list[1].record.speed_limit(), 3000);
}

TEST(ConfigFile, NamesTextLineEndings) {
    Bytes b;
    PutHeader(b, 65627, 3458);
    PutText(b, std::string("a\r\n\r\nb\rc\nd") + '\0');
    for (int i = 0; i < 5; ++i)
        PutRecord(b, SampleRecord(i), 3458);
    PutInt32(b, 0);
    TaskList list = Parse(b);
    ASSERT_EQ(list.size(), 5u);
    const std::vector<std::string> names{"a", "", "b", "c", "d"};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(list[i].name, names[i]);
        EXPECT_TRUE(list[i].record == SampleRecord(static_cast<int>(i))) << i;
    }
}

TEST(ConfigFile, TruncatedFileKeepsDefaultsAndHasNoSchedules) {
    const TaskList full = SampleList(3, 2);
    const Bytes image = SerializeConfiguration(full);
    const std::size_t recordsAt = 1024 + 3 * 7 + 1;
    // Cut inside the second record: its first 1000 bytes survive.
    Bytes cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(recordsAt + 3458 + 1000));
    TaskList list = Parse(cut);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_TRUE(list[0].record == full[0].record);
    EXPECT_EQ(list[1].record.host_path(), full[1].record.host_path());
    EXPECT_EQ(list[1].record.folder_list(), ""); // at 1068, beyond the cut
    EXPECT_EQ(list[1].record.speed_limit(), 3000);
    EXPECT_TRUE(list[2].record == TaskRecord::MakeForLoading());
    EXPECT_TRUE(list.schedules().empty());

    // Cut inside the second schedule: its missing bytes read as zero.
    Bytes cut2(image.begin(), image.end() - 10);
    list = Parse(cut2);
    ASSERT_EQ(list.schedules().size(), 2u);
    ScheduleRecord s = full.schedules()[1];
    std::fill(s.bytes.end() - 10, s.bytes.end(), 0);
    EXPECT_EQ(list.schedules()[1], s);
}

TEST(ConfigFile, DamagedCountsAndSizesStayWithinTheData) {
    const Bytes image = SerializeConfiguration(SampleList(2, 3));
    const std::size_t countAt = image.size() - 4 - 3 * 52;
    for (std::int32_t count : {-1, INT32_MIN, 1000000, INT32_MAX}) {
        Bytes b = image;
        for (int i = 0; i < 4; ++i)
            b[countAt + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(static_cast<std::uint32_t>(count) >> (8 * i));
        TaskList list = Parse(b);
        EXPECT_EQ(list.size(), 2u);
        EXPECT_EQ(list.schedules().size(), count < 0 ? 0u : 3u) << count;
    }
    // Record sizes no header has: the file is taken for the oldest layout.
    for (std::int32_t size : {0, -5, 65537, INT32_MAX}) {
        Bytes b = image;
        for (int i = 0; i < 4; ++i)
            b[4 + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(static_cast<std::uint32_t>(size) >> (8 * i));
        TaskList list = Parse(b); // must simply not crash or over-allocate
        EXPECT_LE(list.size(), 2u);
    }
}

TEST(ConfigFile, NamesWithoutNulOrLineBreaksOnly) {
    Bytes b;
    PutHeader(b, 65627, 3458);
    PutText(b, "x\r\ny"); // no NUL: everything is names, no records
    TaskList list = Parse(b);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[1].record == TaskRecord::MakeForLoading());

    // A megabyte of line breaks is not a million tasks of 3458 bytes each.
    Bytes flood(1 << 20, '\n');
    flood[0] = flood[1] = flood[2] = flood[3] = 'x';
    list = Parse(flood);
    EXPECT_GT(list.size(), 100u);
    EXPECT_LE(list.size() * TaskRecord::kSize, 3 * flood.size() + (std::size_t{4} << 20));
}

TEST(ConfigFile, ShortFilesHoldNothing) {
    for (std::size_t n = 0; n < 4; ++n) {
        Bytes b(n, 'A');
        EXPECT_TRUE(Parse(b).empty());
    }
    // A header cut short anywhere before the names reads as empty.
    const Bytes image = SerializeConfiguration(SampleList(1, 0));
    for (std::size_t n : {4u, 7u, 8u, 500u, 1024u})
        EXPECT_TRUE(
            Parse(Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(n))).empty())
            << n;
}

TEST(ConfigFile, LineBreaksInNamesCannotShiftRecords) {
    TaskList list = SampleList(3, 1);
    list[0].name = "two\r\nlines";
    list[1].name = std::string("nul\0inside", 10);
    const TaskList back = Parse(SerializeConfiguration(list));
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].name, "two  lines");
    EXPECT_EQ(back[1].name, "nul inside");
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(back[i].record == list[i].record);
    EXPECT_EQ(back.schedules(), list.schedules());
}

// Thousands of damaged files: none may crash, hang or allocate wildly, and
// whatever is read must survive a save and a load unchanged.
TEST(ConfigFile, RandomCorruptionIsReadSafely) {
    std::mt19937 rng(20261208);
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    std::vector<Bytes> seeds;
    seeds.push_back(SerializeConfiguration(SampleList(3, 2)));
    {
        Bytes b;
        PutText(b, std::string("Alpha\r\nBeta\r\n") + '\0');
        PutRecord(b, SampleRecord(1), 2092);
        PutRecord(b, SampleRecord(2), 2092);
        PutInt32(b, 1);
        b.resize(b.size() + 52, 9);
        seeds.push_back(b);
    }
    {
        Bytes b;
        PutHeader(b, 65600, 4000);
        PutText(b, std::string("a\r\n") + '\0');
        PutRecord(b, SampleRecord(1), 4000);
        PutInt32(b, 0);
        seeds.push_back(b);
    }

    const auto start = std::chrono::steady_clock::now();
    for (int iter = 0; iter < 10000; ++iter) {
        Bytes b = seeds[pick(seeds.size())];
        switch (pick(6)) {
        case 0: // scattered byte damage
            for (std::size_t k = 0, n = 1 + pick(16); k < n; ++k)
                b[pick(b.size())] = static_cast<std::uint8_t>(rng());
            break;
        case 1: // truncation
            b.resize(pick(b.size() + 1));
            break;
        case 2: { // a random int32 at a field that sizes or counts things
            const std::size_t at =
                std::vector<std::size_t>{0, 4, b.size() - 56, b.size() - 4}[pick(4)];
            const std::uint32_t v = std::vector<std::uint32_t>{
                0u,          1u,     0xFFFFFFFFu, 0x7FFFFFFFu,
                0x80000000u, 65536u, 65537u,      static_cast<std::uint32_t>(rng())}[pick(8)];
            for (int i = 0; i < 4 && at + static_cast<std::size_t>(i) < b.size(); ++i)
                b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
            break;
        }
        case 3: { // the NUL that ends the names overwritten
            auto from = b.size() > 1024 && pick(2) == 0 ? b.begin() + 1024 : b.begin();
            auto nul = std::find(from, b.end(), std::uint8_t{0});
            if (nul != b.end())
                *nul = pick(2) == 0 ? std::uint8_t{'\n'} : std::uint8_t{'x'};
            break;
        }
        case 4: // pure garbage
            b.resize(pick(9000));
            for (auto& c : b)
                c = static_cast<std::uint8_t>(rng());
            break;
        default: // garbage appended
            for (std::size_t k = 0, n = pick(300); k < n; ++k)
                b.push_back(static_cast<std::uint8_t>(rng()));
        }
        const TaskList list = Parse(b);
        ASSERT_LE(list.size() * TaskRecord::kSize, 3 * b.size() + (std::size_t{4} << 20));
        ASSERT_LE(list.schedules().size(), b.size() / 52 + 1);
        const TaskList again = Parse(SerializeConfiguration(list));
        ASSERT_EQ(again.size(), list.size()) << iter;
        for (std::size_t i = 0; i < list.size(); ++i) {
            ASSERT_EQ(again[i].name, list[i].name) << iter;
            ASSERT_TRUE(again[i].record == list[i].record) << iter;
        }
        ASSERT_EQ(again.schedules(), list.schedules()) << iter;
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(60)); // a hang guard; normally well under a second
}

// --- the file on disk ------------------------------------------------------

TEST(ConfigFileOnDisk, SaveLoadAndFlags) {
    TempFolder dir;
    const std::string path = dir.file("Duplora.cfg");
    TaskList list = SampleList(3, 2);
    list.setChanged();
    std::string error;
    ASSERT_TRUE(SaveConfiguration(path, list, error)) << error;
    EXPECT_FALSE(list.changed());
    EXPECT_EQ(ReadBytes(path), SerializeConfiguration(list));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Duplora.cfg"}); // no temporary left

    TaskList loaded;
    loaded.setChanged();
    EXPECT_EQ(LoadConfiguration(path, loaded, error), LoadStatus::Loaded);
    ExpectSameContents(loaded, list);
    EXPECT_FALSE(loaded.changed());

    // Saving an empty list replaces the old file with the 1029-byte form.
    TaskList empty;
    ASSERT_TRUE(SaveConfiguration(path, empty, error));
    EXPECT_EQ(ReadBytes(path).size(), 1029u);
}

TEST(ConfigFileOnDisk, MissingShortAndUnreadable) {
    TempFolder dir;
    TaskList list = SampleList(1, 1);
    std::string error;
    EXPECT_EQ(LoadConfiguration(dir.file("none.cfg"), list, error), LoadStatus::Missing);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.schedules().empty());
    EXPECT_TRUE(error.empty());

    WriteBytes(dir.file("short.cfg"), {1, 2, 3});
    EXPECT_EQ(LoadConfiguration(dir.file("short.cfg"), list, error), LoadStatus::Missing);

    // A folder in place of the file exists but cannot be read as one.
    std::filesystem::create_directory(dir.file("Duplora.cfg"));
    list = SampleList(1, 0);
    EXPECT_EQ(LoadConfiguration(dir.file("Duplora.cfg"), list, error), LoadStatus::CannotOpen);
    EXPECT_EQ(error, "Cannot open file " + dir.file("Duplora.cfg"));
    EXPECT_TRUE(list.empty());
}

TEST(ConfigFileOnDisk, FailedSaveKeepsOldFileAndChangedFlag) {
    TempFolder dir;
    // A regular file where the folder should be: creation fails even as root.
    WriteBytes(dir.file("plain"), {'x'});
    const std::string blocked = dir.file("plain") + "/Duplora.cfg";
    TaskList list = SampleList(2, 0);
    list.setChanged();
    std::string error;
    EXPECT_FALSE(SaveConfiguration(blocked, list, error));
    EXPECT_EQ(error, "Cannot create file " + blocked);
    EXPECT_TRUE(list.changed());

    // A folder in the way of the file is left alone.
    std::filesystem::create_directory(dir.file("Duplora.cfg"));
    EXPECT_FALSE(SaveConfiguration(dir.file("Duplora.cfg"), list, error));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Duplora.cfg")));
}

TEST(ConfigFileOnDisk, FullDiskOrFailingFlushLeavesOldFileWhole) {
    TempFolder dir;
    const std::string path = dir.file("Duplora.cfg");
    TaskList old = SampleList(2, 1);
    std::string error;
    ASSERT_TRUE(SaveConfiguration(path, old, error));
    const Bytes before = ReadBytes(path);

    std::size_t budget = 5000; // the disk fills after 5000 bytes
    FileOps full = SystemFileOps();
    full.write = [&](int fd, const void* data, std::size_t size) -> ssize_t {
        if (budget == 0) {
            errno = ENOSPC;
            return -1;
        }
        const std::size_t n = std::min(size, budget);
        budget -= n;
        return ::write(fd, data, n);
    };
    FileOps badFlush = SystemFileOps();
    badFlush.fsync = [](int) {
        errno = EIO;
        return -1;
    };

    for (const FileOps* ops : {&full, &badFlush}) {
        TaskList list = SampleList(4, 3);
        list.setChanged();
        error.clear();
        EXPECT_FALSE(SaveConfiguration(path, list, error, *ops));
        EXPECT_EQ(error, "Cannot create file " + path);
        EXPECT_TRUE(list.changed());
        EXPECT_EQ(ReadBytes(path), before);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"Duplora.cfg"});
    }
}

TEST(ConfigFileOnDisk, SaveKeepsModeAndSymbolicLink) {
    TempFolder dir;
    const std::string real = dir.file("real.cfg");
    const std::string link = dir.file("Duplora.cfg");
    WriteBytes(real, {1, 2, 3, 4});
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    std::filesystem::create_symlink(real, link);
    TaskList list = SampleList(1, 0);
    std::string error;
    ASSERT_TRUE(SaveConfiguration(link, list, error));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(real), SerializeConfiguration(list));
    EXPECT_EQ(duplora::testing::ModeOf(real), 0640u);
}

TEST(ConfigFileOnDisk, PasswordsAreNeverInAFileOthersMayRead) {
    // The records hold network passwords. While a save writes them, the
    // temporary file may not be more open than the file it replaces, and a
    // configuration written for the first time is for its owner alone.
    TempFolder dir;
    const std::string path = dir.file("Duplora.cfg");
    std::vector<unsigned> modesWhileWriting;
    FileOps watch = SystemFileOps();
    watch.write = [&](int fd, const void* data, std::size_t size) -> ssize_t {
        struct stat st {};
        if (::fstat(fd, &st) == 0)
            modesWhileWriting.push_back(st.st_mode & 07777);
        return ::write(fd, data, size);
    };
    TaskList list = SampleList(1, 0);
    list[0].record.set_net_password("secret");
    std::string error;
    ASSERT_TRUE(SaveConfiguration(path, list, error, watch));
    EXPECT_EQ(duplora::testing::ModeOf(path) & 077u, 0u);

    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    modesWhileWriting.clear();
    ASSERT_TRUE(SaveConfiguration(path, list, error, watch));
    ASSERT_FALSE(modesWhileWriting.empty());
    for (unsigned mode : modesWhileWriting)
        EXPECT_EQ(mode & 077u, 0u) << std::oct << mode;
    EXPECT_EQ(duplora::testing::ModeOf(path), 0600u);

    // A file the user opened to the group stays so.
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(SaveConfiguration(path, list, error, watch));
    EXPECT_EQ(duplora::testing::ModeOf(path), 0640u);
}

TEST(ConfigFileOnDisk, PipesAndDevicesAreNotReadAsFiles) {
    // A named pipe would block the start until something writes to it, and
    // a link to /dev/zero would be read until memory runs out: anything but
    // a regular file is "Cannot open file" at once.
    TempFolder dir;
    const std::string pipe = dir.file("Duplora.cfg");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // If the reader does block, this writer lets it go after a while, so the
    // test fails instead of hanging.
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 50 && !done; ++i) {
            const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    TaskList list;
    std::string error;
    EXPECT_EQ(LoadConfiguration(pipe, list, error), LoadStatus::CannotOpen);
    EXPECT_EQ(error, "Cannot open file " + pipe);
    done = true;
    writer.join();

    const std::string zero = dir.file("zero.cfg");
    std::filesystem::create_symlink("/dev/zero", zero);
    error.clear();
    EXPECT_EQ(LoadConfiguration(zero, list, error), LoadStatus::CannotOpen);
    EXPECT_EQ(error, "Cannot open file " + zero);
}

namespace {

void PutUint(Bytes& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutEntry(Bytes& out, std::uint32_t task, const std::string& name, const std::string& value) {
    PutUint(out, task, 4);
    PutUint(out, static_cast<std::uint32_t>(name.size()), 2);
    PutText(out, name);
    PutUint(out, static_cast<std::uint32_t>(value.size()), 4);
    PutText(out, value);
}

} // namespace

// Options that do not fit a record follow the schedules in a block that the
// loading of older programs never reaches: the file up to the block is what
// such a program writes for a task without the option.
TEST(ConfigFile, ExtensionBlockAfterTheSchedules) {
    const std::string folder = "/media/usb-disk/Backups/duplora/versions"; // 40 bytes
    TaskList list = SampleList(3, 2);
    list[1].record.set_on_delete(DeleteMode::Versions);
    TaskList plain = list;
    list[1].record.set_versions_folder(folder);
    list[2].record.set_versions_folder("short"); // in the record: no entry

    plain[2].record.set_versions_folder("short");
    Bytes expected = SerializeConfiguration(plain);
    const std::size_t oldEnd = expected.size();
    PutText(expected, "DUPLORAX");
    PutUint(expected, 1, 4);
    PutUint(expected, 1, 4);
    PutEntry(expected, 1, "versions_folder", folder);
    const Bytes file = SerializeConfiguration(list);
    EXPECT_EQ(file, expected);

    ExpectSameContents(Parse(file), list);
    // What a reader that stops after the schedules has: no folder, so a
    // Versions run is refused instead of filling a cut path.
    const TaskList old = Parse(Bytes(file.begin(), file.begin() + oldEnd));
    EXPECT_EQ(old[1].record.versions_folder(), "");
    EXPECT_EQ(old[1].record.on_delete(), DeleteMode::Versions);
    EXPECT_EQ(old.schedules(), list.schedules());

    // Names of later options are kept and written back; a block of another
    // version, a foreign one and entries past the damage are passed over.
    Bytes future(file.begin(), file.begin() + oldEnd);
    PutText(future, "DUPLORAX");
    PutUint(future, 1, 4);
    PutUint(future, 3, 4);
    PutEntry(future, 0, "later_option", std::string("\0\1x", 3));
    PutEntry(future, 1, "versions_folder", folder);
    PutEntry(future, 7, "versions_folder", folder); // no task 7: reading ends
    TaskList read = Parse(future);
    EXPECT_EQ(read[0].record.extension(),
              (TaskRecord::Extension{{"later_option", std::string("\0\1x", 3)}}));
    EXPECT_EQ(read[1].record.versions_folder(), folder);
    Bytes again = SerializeConfiguration(read);
    EXPECT_EQ(Parse(again)[0].record.extension(), read[0].record.extension());
    for (const char* damage : {"DUPLORAY", "version"}) {
        Bytes other = file;
        if (std::string(damage) == "version")
            other[oldEnd + 8] = 2;
        else
            std::memcpy(other.data() + oldEnd, damage, 8);
        EXPECT_EQ(Parse(other)[1].record.versions_folder(), "") << damage;
    }
    for (std::size_t cut = oldEnd; cut < file.size(); ++cut)
        EXPECT_EQ(Parse(Bytes(file.begin(), file.begin() + cut))[1].record.versions_folder(), "");
}

// The progress line: its text, its redraw rate and its speed figure.

#include "cli/ProgressBar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace duplora::cli {
namespace {

using namespace std::chrono_literals;

::testing::AssertionResult Has(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "'" << part << "' not in '" << text << "'";
}

std::size_t Chars(const std::string& s) {
    return static_cast<std::size_t>(std::count_if(
        s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

TEST(ProgressText, SizesAndDurations) {
    EXPECT_EQ(ByteText(0), "0 B");
    EXPECT_EQ(ByteText(1023), "1023 B");
    EXPECT_EQ(ByteText(1536), "1.5 KiB");
    EXPECT_EQ(ByteText(std::int64_t{2} << 30), "2.0 GiB");
    EXPECT_EQ(ByteText(-5), "0 B");
}

TEST(ProgressText, TailFitKeepsTheFileNameAndWholeCharacters) {
    EXPECT_EQ(TailFit("/short", 10), "/short");
    EXPECT_EQ(TailFit("/a/long/path/file.txt", 12), ".../file.txt");
    // Three-byte characters are never split.
    const std::string cut = TailFit("/目录/子目录/文件名.txt", 9);
    EXPECT_EQ(Chars(cut), 9u);
    EXPECT_EQ(cut, "...件名.txt");
    EXPECT_EQ(TailFit("/abcdef", 2), "..");
}

TEST(ProgressText, CopyLineShowsDoneLeftSpeedAndTimeLeft) {
    ProgressInfo info;
    info.copying = true;
    info.path = "/host/dir/file.bin";
    info.doneBytes = 1 << 20;
    info.totalBytes = 4 << 20;
    info.bytesPerSecond = 1 << 20;
    const std::string line = FormatProgressLine(info, 200);
    EXPECT_EQ(line.rfind("[#####...............]  25%", 0), 0u) << line;
    EXPECT_TRUE(Has(line, "1.0 MiB done, 3.0 MiB left"));
    EXPECT_TRUE(Has(line, "1.0 MiB/s  0:03 left"));
    EXPECT_TRUE(Has(line, "/host/dir/file.bin"));

    // Narrow terminals cut the line, never wrap it.
    for (std::size_t width : {5u, 30u, 60u, 80u})
        EXPECT_LE(Chars(FormatProgressLine(info, width)), width) << width;

    info.bytesPerSecond = 0;
    EXPECT_TRUE(Has(FormatProgressLine(info, 200), "--/s  --:-- left"));
    info.totalBytes = 0; // only deletes planned
    info.doneBytes = 0;
    EXPECT_EQ(FormatProgressLine(info, 200).rfind("[####################] 100%", 0), 0u);
}

TEST(ProgressText, ScanLineShowsStatusAndFolderWithoutControls) {
    ProgressInfo info;
    info.status = "Analyzing host folder...";
    info.path = "/host/odd\nname";
    const std::string line = FormatProgressLine(info, 80);
    EXPECT_EQ(line, "Analyzing host folder...  /host/odd?name");
}

struct FakeClock {
    std::chrono::steady_clock::time_point t{};
    SteadyClock fn() {
        return [this] { return t; };
    }
};

int Redraws(const std::string& s) {
    return static_cast<int>(std::count(s.begin(), s.end(), '\r'));
}

TEST(ProgressBarTest, RedrawsAtMostTenTimesASecond) {
    FakeClock clock;
    std::ostringstream out;
    ProgressBar bar(out, 80, clock.fn());
    ProgressInfo info;
    info.copying = true;
    info.totalBytes = 1000;
    for (int ms = 0; ms < 1000; ++ms) { // one update per millisecond
        clock.t = std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms));
        info.doneBytes = ms;
        bar.Update(info);
    }
    EXPECT_EQ(Redraws(out.str()), 10);
    EXPECT_TRUE(bar.Shown());

    // Clearing erases the line, and the next update draws at once.
    out.str("");
    bar.Clear();
    EXPECT_EQ(out.str(), "\r\x1b[K");
    EXPECT_FALSE(bar.Shown());
    bar.Update(info);
    EXPECT_EQ(Redraws(out.str()), 2);
    bar.Clear();
    out.str("");
    bar.Clear(); // nothing shown: nothing written
    EXPECT_EQ(out.str(), "");
}

TEST(ProgressBarTest, FollowsTheWidthAndWritesNoEscapesOnAPlainTerminal) {
    FakeClock clock;
    std::ostringstream out;
    ProgressBar bar(out, 80, clock.fn());
    std::size_t width = 60;
    bar.FollowWidth([&width] { return width; });
    bar.SetPlain(true);
    ProgressInfo info;
    info.status = std::string(100, 'x');
    bar.Update(info, true);
    EXPECT_EQ(out.str(), "\r" + std::string(60, 'x'));
    // The window got narrower: the next line is cut to the new width, and
    // spaces, not an escape sequence, cover the rest of the old one.
    width = 40;
    out.str("");
    bar.Update(info, true);
    EXPECT_EQ(out.str(),
              "\r" + std::string(40, 'x') + std::string(20, ' ') + "\r" + std::string(40, 'x'));
    out.str("");
    bar.Clear();
    EXPECT_EQ(out.str(), "\r" + std::string(40, ' ') + "\r");

    EXPECT_TRUE(PlainTerminal("dumb"));
    EXPECT_TRUE(PlainTerminal(nullptr));
    EXPECT_TRUE(PlainTerminal(""));
    EXPECT_FALSE(PlainTerminal("xterm-256color"));
}

TEST(ProgressBarTest, SpeedFollowsTheLastSecondsAndRestartsWithEachTask) {
    FakeClock clock;
    std::ostringstream out;
    ProgressBar bar(out, 200, clock.fn());
    ProgressInfo info;
    info.copying = true;
    info.totalBytes = std::int64_t{100} << 20;
    auto at = [&](double seconds, std::int64_t mib) {
        clock.t = std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(seconds)));
        info.doneBytes = mib << 20;
        out.str("");
        bar.Update(info, true);
        return out.str();
    };
    at(0, 0);
    EXPECT_TRUE(Has(at(1, 10), "10.0 MiB/s"));
    // Slow for the last seconds: the figure follows, the fast start is
    // forgotten.
    at(2, 20);
    at(5, 23);
    at(7, 25);
    EXPECT_TRUE(Has(at(8, 26), "1.0 MiB/s"));
    // A new task counts from 0 again: no negative speed.
    EXPECT_TRUE(Has(at(9, 0), "--/s"));
}

} // namespace
} // namespace duplora::cli

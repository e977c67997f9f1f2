#pragma once
// The live progress line of `duplora-cli run` on a terminal's stderr, and the
// run observer that feeds it and turns Ctrl-C into the run's Cancel.
//
//   [#########...........]  45%  1.2 GiB done, 1.4 GiB left  85.3 MiB/s  0:17 left  …/dir/file
//
// The line is redrawn at most every 100 ms (10 times a second): the copier
// reports every 16 KiB chunk, thousands of times a second, and a terminal
// redraw per chunk would cost more than the copy.

#include "sync/run/RunContext.h"
#include "sync/run/RunObserver.h"
#include "sync/run/RunProgress.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace duplora::cli {

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

// What one redraw shows.
struct ProgressInfo {
    bool copying = false; // false while scanning: status and path only
    std::string status;   // "Analyzing host folder..." and the like
    std::string path;     // folder being scanned, or file being handled
    std::int64_t doneBytes = 0;
    std::int64_t totalBytes = 0;
    double bytesPerSecond = 0; // 0 = not known yet
};

// "0 B", "512 B", "1.5 KiB", "12.0 MiB", "1.2 GiB".
std::string ByteText(std::int64_t bytes);
// Keeps the end of `path` (the file name matters most) within `width`
// UTF-8 characters, with "..." in front when cut.
std::string TailFit(std::string_view path, std::size_t width);
// One progress line of at most `width` characters (no line end).
std::string FormatProgressLine(const ProgressInfo& info, std::size_t width);

class ProgressBar {
public:
    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    ProgressBar(std::ostream& out, std::size_t width, SteadyClock clock = {});

    // The width is asked of `width` at every redraw (a terminal may be
    // resized during a run) instead of the fixed one given at construction.
    void FollowWidth(std::function<std::size_t()> width) { widthSource_ = std::move(width); }
    // A plain terminal (TERM=dumb) gets no escape sequences: a shorter line
    // is padded with spaces over the rest of the one before.
    void SetPlain(bool plain) { plain_ = plain; }

    // Redraws when kRedrawInterval has passed since the last redraw, or
    // `force`. Computes the speed from the byte counts it is given.
    void Update(ProgressInfo info, bool force = false);
    // Erases the line (before a result line is written to the same screen,
    // and at the end).
    void Clear();
    bool Shown() const { return shown_; }

private:
    std::chrono::steady_clock::time_point now() const;
    double speed(std::chrono::steady_clock::time_point t, std::int64_t done);

    void draw(const std::string& line);

    std::ostream& out_;
    std::size_t width_;
    std::function<std::size_t()> widthSource_;
    SteadyClock clock_;
    bool plain_ = false;
    std::size_t drawnChars_ = 0; // characters on screen, for a plain terminal
    bool shown_ = false;
    bool drawnOnce_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    SpeedMeter meter_; // the same window as the progress window's figure
};

// Width of the terminal on file descriptor `fd`, or $COLUMNS, or 80.
std::size_t TerminalWidth(int fd);
// True for a terminal without cursor control: TERM unset, empty or "dumb".
bool PlainTerminal(const char* term);

// The observer of console runs. Pump() is where the engine lets the
// interface act: a pending interrupt becomes a confirmed cancel (the run
// then ends with "User break the task!" and its lines are logged), and the
// bar, if any, is redrawn.
class ConsoleObserver : public RunObserver {
public:
    ConsoleObserver(ProgressBar* bar, std::function<bool()> interrupted);
    void SetRun(RunContext* run) { run_ = run; }

    void Pump() override;
    void SetStatus(const std::string& text) override;
    void SetPath(const std::string& text) override;

private:
    ProgressBar* bar_;
    std::function<bool()> interrupted_;
    RunContext* run_ = nullptr;
    std::string status_, path_;
};

} // namespace duplora::cli

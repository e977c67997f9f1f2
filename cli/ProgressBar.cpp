#include "cli/ProgressBar.h"

#include "platform/Utf8.h"
#include "sync/run/SyncRun.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace duplora::cli {

namespace {

constexpr std::size_t kBarCells = 20;

constexpr bool IsContinuation(char c) {
    return IsUtf8Continuation(c);
}

constexpr std::size_t CharCount(std::string_view s) {
    return Utf8CharCount(s);
}

// The first `chars` characters of `s`.
std::string_view HeadChars(std::string_view s, std::size_t chars) {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < s.size(); ++i) {
        if (!IsContinuation(s[i]) && seen++ == chars)
            break;
    }
    return s.substr(0, i);
}

// Control characters would move the cursor; a name that holds one is drawn
// with '?' in its place.
std::string Printable(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return out;
}

} // namespace

std::string ByteText(std::int64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes < 0 ? 0 : bytes) + " B";
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double v = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (v >= 1024 && unit + 1 < std::size(kUnits)) {
        v /= 1024;
        ++unit;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f %s", v, kUnits[unit]);
    return buf;
}

std::string TailFit(std::string_view path, std::size_t width) {
    const std::size_t chars = CharCount(path);
    if (chars <= width)
        return std::string(path);
    if (width <= 3)
        return std::string(width, '.');
    // Skip the first (chars - (width - 3)) characters.
    std::size_t skip = chars - (width - 3);
    std::size_t i = 0;
    for (std::size_t seen = 0; i < path.size(); ++i) {
        if (!IsContinuation(path[i]) && seen++ == skip)
            break;
    }
    return "..." + std::string(path.substr(i));
}

std::string FormatProgressLine(const ProgressInfo& info, std::size_t width) {
    std::string left;
    if (info.copying) {
        const std::int64_t total = info.totalBytes > 0 ? info.totalBytes : 0;
        const std::int64_t done = std::min(std::max<std::int64_t>(info.doneBytes, 0), total);
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
        const std::size_t filled =
            total > 0 ? static_cast<std::size_t>(done * kBarCells / total) : kBarCells;
        left = "[" + std::string(filled, '#') + std::string(kBarCells - filled, '.') + "] ";
        char pct[8];
        std::snprintf(pct, sizeof pct, "%3d%%", percent);
        left += pct;
        left += "  " + ByteText(done) + " done, " + ByteText(total - done) + " left";
        if (info.bytesPerSecond > 0) {
            left += "  " + ByteText(static_cast<std::int64_t>(info.bytesPerSecond)) + "/s  " +
                    DurationText(static_cast<std::int64_t>(
                        std::ceil(static_cast<double>(total - done) / info.bytesPerSecond))) +
                    " left";
        } else {
            left += "  --/s  --:-- left";
        }
    } else {
        left = Printable(info.status);
    }
    const std::size_t leftChars = CharCount(left);
    if (leftChars >= width)
        return std::string(HeadChars(left, width));
    if (info.path.empty() || leftChars + 2 >= width)
        return left;
    return left + "  " + TailFit(Printable(info.path), width - leftChars - 2);
}

ProgressBar::ProgressBar(std::ostream& out, std::size_t width, SteadyClock clock)
    : out_(out), width_(width), clock_(std::move(clock)) {}

std::chrono::steady_clock::time_point ProgressBar::now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

double ProgressBar::speed(std::chrono::steady_clock::time_point t, std::int64_t done) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    meter_.Sample(ms, done);
    return static_cast<double>(std::max<std::int64_t>(meter_.BytesPerSecond(), 0));
}

void ProgressBar::Update(ProgressInfo info, bool force) {
    const auto t = now();
    if (info.copying)
        info.bytesPerSecond = speed(t, info.doneBytes);
    else
        meter_.Reset();
    if (!force && drawnOnce_ && t - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = t;
    drawnOnce_ = true;
    if (widthSource_)
        width_ = widthSource_();
    draw(FormatProgressLine(info, width_));
    shown_ = true;
}

void ProgressBar::draw(const std::string& line) {
    // The new line may be shorter than the one before: erase the rest, by
    // the terminal's own command or, on a plain one, with spaces.
    out_ << '\r' << line;
    const std::size_t chars = CharCount(line);
    if (!plain_)
        out_ << "\x1b[K";
    else if (chars < drawnChars_)
        out_ << std::string(drawnChars_ - chars, ' ') << '\r' << line;
    drawnChars_ = chars;
    out_ << std::flush;
}

void ProgressBar::Clear() {
    if (!shown_)
        return;
    if (plain_)
        out_ << '\r' << std::string(drawnChars_, ' ') << '\r' << std::flush;
    else
        out_ << "\r\x1b[K" << std::flush;
    drawnChars_ = 0;
    shown_ = false;
    // The next update draws at once, so the bar comes back right after a
    // result line.
    drawnOnce_ = false;
}

std::size_t TerminalWidth(int fd) {
    struct winsize ws {};
    if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    if (const char* columns = std::getenv("COLUMNS")) {
        const long n = std::strtol(columns, nullptr, 10);
        if (n > 0 && n < 10000)
            return static_cast<std::size_t>(n);
    }
    return 80;
}

bool PlainTerminal(const char* term) {
    return term == nullptr || *term == '\0' || std::string_view(term) == "dumb";
}

ConsoleObserver::ConsoleObserver(ProgressBar* bar, std::function<bool()> interrupted)
    : bar_(bar), interrupted_(std::move(interrupted)) {}

void ConsoleObserver::Pump() {
    if (run_ && interrupted_ && interrupted_())
        RequestCancel(*run_);
    if (!bar_ || !run_)
        return;
    ProgressInfo info;
    const RunState state = run_->State;
    info.copying = state == RunState::ExecHost || state == RunState::ExecMirror;
    info.status = status_;
    info.path = path_;
    info.doneBytes = run_->Plan.DoneBytes;
    info.totalBytes = run_->Plan.TotalBytes;
    bar_->Update(std::move(info));
}

void ConsoleObserver::SetStatus(const std::string& text) {
    status_ = text;
}

void ConsoleObserver::SetPath(const std::string& text) {
    path_ = text;
}

} // namespace duplora::cli

#pragma once
// The result lines: the text report of every run since the program started.
// Lines are only appended; the result window shows them and the program's
// closing step appends them to the log.

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace duplora {

class ResultLines {
public:
    // A text holding CR LF (or LF) becomes several lines.
    void Append(std::string_view text);
    const std::vector<std::string>& Lines() const { return lines_; }
    bool Empty() const { return lines_.empty(); }
    // Called with each new line as it is appended (console output, a window).
    std::function<void(const std::string&)> OnLine;
    // From now on a path under `local` (a share's mount) is written under
    // `shown` (the share as the user typed it); until ClearPathNames.
    void ShowPathAs(std::string local, std::string shown);
    void ClearPathNames() { aliases_.clear(); }

private:
    std::string shown(std::string line) const;
    std::vector<std::string> lines_;
    std::vector<std::pair<std::string, std::string>> aliases_;
};

// "yyyy-mm-dd h:nn:ss" in local time, e.g. "2026-03-07 9:05:41".
std::string TimeStampText(std::time_t t);
// 61 '='.
const std::string& SeparatorLine();

} // namespace duplora

#include "sync/run/ResultLines.h"

#include <cstdio>
#include <string_view>

namespace duplora {

void ResultLines::Append(std::string_view text) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find_first_of("\r\n", start);
        std::string line(text.substr(start, end == std::string_view::npos ? end : end - start));
        lines_.push_back(shown(std::move(line)));
        if (OnLine)
            OnLine(lines_.back());
        if (end == std::string_view::npos)
            break;
        // CR LF, a lone CR and a lone LF each end one line.
        start =
            end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
        if (start >= text.size())
            break;
    }
}

void ResultLines::ShowPathAs(std::string local, std::string shown) {
    if (!local.empty() && local != shown)
        aliases_.emplace_back(std::move(local), std::move(shown));
}

// Every occurrence of a mount path that ends the line or is followed by a
// '/', a blank or a closing mark: "…/0/photos2" names another folder.
std::string ResultLines::shown(std::string line) const {
    for (const auto& [local, typed] : aliases_) {
        std::string out;
        std::size_t pos = 0;
        for (std::size_t at = line.find(local); at != std::string::npos;
             at = line.find(local, pos)) {
            const std::size_t after = at + local.size();
            out.append(line, pos, at - pos);
            const bool whole = after == line.size() || std::string_view("/ ),\"'").find(
                                                           line[after]) != std::string_view::npos;
            out += whole ? typed : local;
            pos = after;
        }
        out.append(line, pos);
        line = std::move(out);
    }
    return line;
}

std::string TimeStampText(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

const std::string& SeparatorLine() {
    static const std::string line(61, '=');
    return line;
}

} // namespace duplora

#include "sync/memory/Remember.h"

#include "sync/run/RunContext.h"
#include "tasks/TextTable.h"

#include <ctime>

namespace duplora {

namespace {

// "2026-12-08 14:03" in local time.
std::string MinuteText(std::int64_t t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

} // namespace

std::string RememberedReason(Remembered kind, std::int64_t since) {
    if (kind == Remembered::None)
        return {};
    // Texts 270..274 follow the order of the kinds.
    return MsgFill(269 + static_cast<int>(kind), MinuteText(since));
}

std::string ConflictName(std::string_view name, std::time_t when, bool hostSide, int attempt) {
    // The extension is what follows the last dot, unless that dot starts
    // the name (".bashrc" has none).
    const std::size_t dot = name.find_last_of('.');
    const bool hasExt = dot != std::string_view::npos && dot > 0;
    const std::string_view stem = hasExt ? name.substr(0, dot) : name;
    const std::string_view ext = hasExt ? name.substr(dot) : std::string_view();
    std::tm tm{};
    localtime_r(&when, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H%M%S", &tm);
    std::string out(stem);
    out += " (conflict ";
    out += stamp;
    out += hostSide ? " host" : " mirror";
    if (attempt > 1)
        out += " " + std::to_string(attempt);
    out += ")";
    out += ext;
    return out;
}

} // namespace duplora

#include "tasks/LogFile.h"

#include <cstdint>

namespace duplora {

LogStatus AppendLogBlock(const std::string& path, const std::vector<std::string>& lines,
                         std::string& error, const FileOps& ops) {
    if (lines.empty())
        return LogStatus::NothingToWrite;
    std::vector<std::uint8_t> log;
    if (ReadWholeFile(path, log) == ReadStatus::Failed) {
        error = "Cannot open file " + path;
        return LogStatus::CannotRead;
    }
    std::size_t added = 1;
    for (const auto& line : lines)
        added += line.size() + 2;
    log.reserve(log.size() + added);
    for (const auto& line : lines) {
        log.insert(log.end(), line.begin(), line.end());
        log.push_back('\r');
        log.push_back('\n');
    }
    log.push_back(0);
    return ReplaceFileContents(path, log.data(), log.size(), ops) ? LogStatus::Written
                                                                  : LogStatus::WriteFailed;
}

} // namespace duplora

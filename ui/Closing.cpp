#include "ui/Closing.h"

#include "tasks/ConfigFile.h"
#include "tasks/FileLock.h"
#include "tasks/LogFile.h"

namespace duplora {

CloseDecision RunClosing(TaskList& list, const std::string& configPath, const std::string& logPath,
                         const std::vector<std::string>& resultLines, const ClosingTexts& texts,
                         const ClosingActions& actions) {
    while (list.changed()) {
        const std::optional<bool> answer =
            actions.askYesNo(texts.saveQuestion, texts.promptCaption);
        if (!answer)
            return CloseDecision::StayOpen;
        if (!*answer)
            break;
        std::string error;
        bool saved = false;
        if (actions.save) {
            saved = actions.save(list, error);
        } else {
            FileLock lock;
            std::string lockError;
            lock.Lock(ConfigLockPath(configPath), true, lockError);
            saved = SaveConfiguration(configPath, list, error);
        }
        if (saved) {
            list.setChanged(false);
            break;
        }
        // Say why before asking again; a silent repeat of the same question
        // leaves the user no way to tell that the save failed.
        if (actions.showError && !error.empty())
            actions.showError(error, texts.errorCaption);
    }

    std::string error;
    if (AppendLogBlock(logPath, resultLines, error, ConfigLockPath(configPath)) ==
        LogStatus::CannotRead) {
        if (actions.showError)
            actions.showError(error, texts.errorCaption);
        return CloseDecision::StayOpen;
    }
    return CloseDecision::Close;
}

} // namespace duplora

#pragma once
// What happens when the main window closes, apart from the window itself:
//
//   changed? --yes--> ask "save?" --Yes--> save --ok--------------+
//      |                  | Esc: stay open, nothing saved         |
//      |                  |  ^               |                    |
//      |                  No +--- failed ----+                    v
//      +------------------+-------------------------------> append the log
//                                                                 |
//                              log unreadable: show error, stay open
//                              otherwise (written or not): close

#include "tasks/TaskList.h"
#include "tasks/TextTable.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace duplora {

struct ClosingTexts {
    std::string saveQuestion;  // "Task changed, save it or not?"
    std::string promptCaption; // "Prompt"
    std::string errorCaption;  // "Error"
};

// The texts of the current interface language: entries 28, 27 and 31.
inline ClosingTexts ClosingTextsFromTable() {
    return {Msg(28), Msg(27), Msg(31)};
}

struct ClosingActions {
    // Asks a Yes/No question; true is Yes. No answer at all (the box closed
    // with Esc or its close button) cancels the closing.
    std::function<std::optional<bool>(const std::string& text, const std::string& caption)>
        askYesNo;
    // Shows an error with an OK button.
    std::function<void(const std::string& text, const std::string& caption)> showError;
    // Saves the configuration; null means SaveConfiguration(configPath).
    // On failure returns false with the text to show in `error`.
    std::function<bool(TaskList& list, std::string& error)> save;
};

enum class CloseDecision { Close, StayOpen };

// Runs the closing steps. `resultLines` are the result lines not yet in the
// log (each run writes its own block when it ends); they are appended as one
// block when there are any.
CloseDecision RunClosing(TaskList& list, const std::string& configPath, const std::string& logPath,
                         const std::vector<std::string>& resultLines, const ClosingTexts& texts,
                         const ClosingActions& actions);

} // namespace duplora

#pragma once
// The desktop program's start-up sequence and the wiring of its windows:
//
//   SelectLanguage ─ create the windows (main window first; it gets the
//   task list loaded from Duplora.cfg) ─ ApplyTexts on each, in creation
//   order ─ show the main window ─ event loop
//   first showing: command line ─ ticks ─ post 1282 (run) / 1288 (minimise)
//   closing: save question, log block (app/core/Closing.h) ─ program ends

#include "app/core/ProgramPaths.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

class QApplication;

namespace duplora {

class TAboutForm;
class TSyncForm;
class TTreeVForm;
class TadvForm;
class TcltForm;
class TdirForm;
class TresForm;

// The program's windows. The dialogs are children of the main window, so
// they stack above it and go with it.
struct AppWindows {
    std::unique_ptr<TcltForm> cltForm;
    TSyncForm* SyncForm = nullptr;
    TAboutForm* AboutForm = nullptr;
    TresForm* resForm = nullptr;
    TTreeVForm* TreeVForm = nullptr; // the preview
    TadvForm* advForm = nullptr;
    TdirForm* dirForm = nullptr;
    // Set once a signal asked the program to end (see EndSignals.h): the
    // window then closes without the save question.
    bool endingBySignal = false;
    ~AppWindows();
};

struct StartOptions {
    ProgramPaths paths;
    // The arguments after the program's name.
    std::vector<std::string> arguments;
};

// Creates and wires the windows, loads the configuration (an unreadable file
// is reported with "Cannot open file <path>" and the program starts with no
// tasks) and puts the interface texts in. The language must be chosen first.
std::unique_ptr<AppWindows> CreateAppWindows(const StartOptions& options);

// Ends the program as a signal asks (see EndSignals.h): cancels the run in
// progress, closes what is open over the main window, then closes it
// without asking to save; the result lines go to the log. Returns at once;
// the rest happens from the event loop.
void EndBySignal(AppWindows& windows);

// The whole program: language, windows, event loop. Returns the exit code.
int RunDesktopProgram(QApplication& app);

// The program's arguments as UTF-8, without the program's name.
std::vector<std::string> ProgramArguments(const QStringList& arguments);

} // namespace duplora

#pragma once
// The desktop program's start-up sequence and the wiring of its windows:
//
//   SelectLanguage ─ create the windows (main window first; it gets the
//   task list loaded from Duplora.cfg) ─ ApplyTexts on each, in creation
//   order ─ show the main window ─ event loop
//   first showing: scheduler lock, 20 ms timer ─ command line ─ ticks ─
//   post 1282 (run) / 1288 (minimise)
//   timer thread, every 2 s: post 1280 to fmTask ─ check ─ post 1287 to the
//   main window ─ the tasks of the due schedule run
//   closing: save question, log block (ui/Closing.h) ─ program ends

#include "schedule/HiResTim.h"
#include "schedule/Scheduler.h"
#include "tasks/FileLock.h"
#include "tasks/ProgramPaths.h"
#include "tasks/TextTable.h"

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
class TfmTask;
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
    TfmTask* fmTask = nullptr; // the schedule editor; hosts the check
    Scheduler scheduler;
    // Held from the first showing to the end when this window is the
    // configuration's scheduler; not held when another one (the console's
    // `scheduler`) runs its schedules.
    FileLock schedulerLock;
    // Declared last, so it is stopped before any window it posts to goes.
    THiResTimer HiTimer;
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

// The first step of the first showing: takes the scheduler lock and enables
// HiTimer. When another scheduler holds the lock, the status line says so
// and no schedule is checked. Throws EHiResTimer when the timer cannot run.
void StartScheduler(AppWindows& windows);
// Ends the program as a signal asks (see EndSignals.h): cancels the run in
// progress, closes what is open over the main window, then closes it
// without asking to save; the result lines go to the log. Returns at once;
// the rest happens from the event loop.
void EndBySignal(AppWindows& windows);

// The toolkit's own texts (standard buttons, the file dialog) in `lang`:
// loads Qt's "qtbase" translation for zh_CN or zh_TW from the translations
// folder of the Qt installation (Debian package qt6-translations-l10n) and
// installs it on the application. English needs none and removes one
// installed before. False when the translation is missing: the toolkit then
// stays in English.
bool LoadToolkitTranslations(Language lang);

// The whole program: language, windows, event loop. Returns the exit code.
int RunDesktopProgram(QApplication& app);

// The program's arguments as UTF-8, without the program's name.
std::vector<std::string> ProgramArguments(const QStringList& arguments);

} // namespace duplora

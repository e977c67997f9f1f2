#include "app/gui/StartUp.h"

#include "app/gui/CommandLine.h"
#include "app/gui/EndSignals.h"
#include "platform/ShareMount.h"
#include "sync/run/RunMarker.h"
#include "sync/share/ShareRun.h"
#include "tasks/ConfigEdit.h"
#include "tasks/ConfigFile.h"
#include "tasks/FileLock.h"
#include "tasks/LogFile.h"
#include "tasks/TextTable.h"
#include "ui/AboutU.h"
#include "ui/AdvUnit.h"
#include "ui/AppResources.h"
#include "ui/Closing.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxes.h"
#include "ui/SMemo.h"
#include "ui/ScreenFit.h"
#include "ui/SyncForm.h"
#include "ui/SyncResult.h"
#include "ui/TaskU.h"
#include "ui/TreeVUnit.h"
#include "ui/WidgetTexts.h"
#include "ui/addDirU.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>

#include <cstdio>
#include <memory>

namespace duplora {

AppWindows::~AppWindows() = default;

namespace {

// Event 1287: every task named by the due schedule, in list order, through
// RunSelectedTask. A request that arrives during a run (the check came just
// before it started) runs nothing: the moment is missed as one inside a run
// is, and the pending name is emptied so the scheduler is not blocked.
void DoSchedule(TcltForm* main, Scheduler& scheduler, const std::string& scheduleName) {
    if (main->Running() || RunInProgress().load() != 0) {
        scheduler.ClearPending();
        return;
    }
    try {
        scheduler.Trigger(
            main->Tasks().size(),
            [main](std::size_t row) -> std::string_view { return main->Tasks()[row].name; },
            // The window stays on whatever task the user is editing.
            [main, &scheduleName](std::size_t row) {
                main->ScheduleName = scheduleName;
                main->RunTaskAt(static_cast<int>(row));
                main->ScheduleName.clear();
            },
            main->ScheduledRun);
    } catch (const std::exception& e) {
        // Trigger has emptied the pending name and cleared the flag already.
        ErrorBox(main, QUtf8(e.what()), QMsg(31));
    }
}

void ReadCommandLine(TcltForm* main, const std::vector<std::string>& arguments) {
    const bool closeAtOnce = ApplyCommandLine(arguments, main->Tasks(), main->Flags);
    main->RefreshTaskList();
    if (closeAtOnce) {
        std::fputs(NoTaskMatchedText(arguments).c_str(), stderr);
        main->ExitCode = 2;
        QMetaObject::invokeMethod(main, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    if (main->Flags.command_line_run)
        QCoreApplication::postEvent(main,
                                    new QEvent(static_cast<QEvent::Type>(TcltForm::kGoSyncEvent)));
    if (main->Flags.start_hidden)
        QCoreApplication::postEvent(
            main, new QEvent(static_cast<QEvent::Type>(TcltForm::kMiniToTrayEvent)));
}

// The window's share connection (NetCon). While GVfs mounts a share the
// window repaints but takes no input, so no second run or close can start
// in the middle of the mount.
void WireShares(TcltForm* main) {
    main->Shares = std::make_shared<ShareConnector>();
    SetMountPump([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
}

} // namespace

std::vector<std::string> ProgramArguments(const QStringList& arguments) {
    std::vector<std::string> out;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QByteArray b = arguments[i].toUtf8();
        out.emplace_back(b.constData(), static_cast<std::size_t>(b.size()));
    }
    return out;
}

std::unique_ptr<AppWindows> CreateAppWindows(const StartOptions& options) {
    InitAppResources();
    ScreenFitter::Install();
    auto w = std::make_unique<AppWindows>();
    w->cltForm = std::make_unique<TcltForm>();
    TcltForm* main = w->cltForm.get();
    main->ConfigPath = options.paths.configPath;
    main->LogPath = options.paths.logPath;
    std::string error;
    if (LoadConfigurationStamped(main->ConfigPath, main->Tasks(), main->ConfigKnown, error) ==
        LoadStatus::CannotOpen)
        ErrorBox(nullptr, QUtf8(error), QMsg(31));

    w->SyncForm = new TSyncForm(main);
    w->AboutForm = new TAboutForm(main);
    w->resForm = new TresForm(main);
    w->TreeVForm = new TTreeVForm(main);
    w->advForm = new TadvForm(main);
    w->dirForm = new TdirForm(main);
    w->fmTask = new TfmTask(main);

    main->ApplyTexts();
    w->AboutForm->ApplyTexts();
    w->resForm->ApplyTexts();
    w->SyncForm->ApplyTexts();
    w->TreeVForm->ApplyTexts();
    w->advForm->ApplyTexts();
    w->dirForm->ApplyTexts();
    w->fmTask->ApplyTexts();

    main->SyncForm = w->SyncForm;
    main->AboutForm = w->AboutForm;
    main->AdvForm = w->advForm;
    main->DirForm = w->dirForm;
    w->SyncForm->ResultForm = w->resForm;
    TTreeVForm* preview = w->TreeVForm;
    w->SyncForm->Preview = [preview](SyncPlan& plan, const RunContext& run) {
        return preview->Preview(plan, run);
    };
    w->SyncForm->OnEndLine = [main](const std::string& line) { main->ShowEndLine(line); };
    TSMemo* memo = w->resForm->resMemo;
    main->Results.OnLine = [memo, main](const std::string& line) {
        memo->AddLine(QUtf8(line));
        // A command-line run reports as duplora-cli does: each line as it
        // comes, flushed so that a pipe sees it at once.
        if (main->Flags.command_line_run) {
            std::fputs(line.c_str(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
    };
    TfmTask* fmTask = w->fmTask;
    fmTask->SetTaskList(&main->Tasks());
    fmTask->SetScheduler(&w->scheduler, main);
    main->ShowScheduleEditor = [fmTask] { fmTask->exec(); };
    Scheduler* scheduler = &w->scheduler;
    main->DoSchedule = [main, scheduler, fmTask] {
        DoSchedule(main, *scheduler, fmTask->TakenSchedule);
    };
    main->NextScheduledRun = [fmTask] { return fmTask->NextRunText(); };
    main->SchedulesPaused = [fmTask] { return fmTask->Paused; };
    main->PauseSchedules = [fmTask](bool paused) { fmTask->Paused = paused; };
    w->HiTimer.Interval = 20;
    w->HiTimer.Resolution = 20;
    // On the timer's worker thread: count, and post (never touch) the editor.
    w->HiTimer.OnTimer = [scheduler, fmTask](THiResTimer&) {
        if (scheduler->Tick(RunInProgress().load() != 0))
            QCoreApplication::postEvent(
                fmTask, new QEvent(static_cast<QEvent::Type>(TfmTask::kCheckScheduleEvent)));
    };
    WireShares(main);
    main->RefreshTaskList();

    AppWindows* windows = w.get();
    main->OnFirstShow = [main, windows, args = options.arguments] {
        try {
            StartScheduler(*windows);
        } catch (const EHiResTimer& e) {
            ErrorBox(main, QUtf8(e.what()), QMsg(31));
            return;
        }
        ReadCommandLine(main, args);
    };
    main->CloseRequested = [main, windows] {
        if (windows->endingBySignal) {
            // Nobody is there to answer the save question, and a
            // configuration written half-way through a logout would be
            // worse than the edits lost: only the log is written.
            std::string error;
            AppendLogBlock(main->LogPath, main->UnloggedLines(), error,
                           ConfigLockPath(main->ConfigPath));
            return true;
        }
        ClosingActions actions;
        actions.askYesNo = [main](const std::string& text, const std::string& caption) {
            return YesNoOrEscBox(main, QUtf8(text), QUtf8(caption));
        };
        actions.showError = [main](const std::string& text, const std::string& caption) {
            ErrorBox(main, QUtf8(text), QUtf8(caption));
        };
        actions.save = [main](TaskList&, std::string& error) { return main->SaveTasks(error); };
        return RunClosing(main->Tasks(), main->ConfigPath, main->LogPath, main->UnloggedLines(),
                          ClosingTextsFromTable(), actions) == CloseDecision::Close;
    };
    return w;
}

void StartScheduler(AppWindows& windows) {
    TcltForm* main = windows.cltForm.get();
    std::string error;
    if (!windows.schedulerLock.Lock(SchedulerLockPath(main->ConfigPath), false, error) &&
        error.find("locked by another process") != std::string::npos) {
        main->ShowEndLine(Msg(160));
        return;
    }
    // Any other reason (no folder for the lock file yet) leaves no other
    // scheduler able to lock either, so this one runs.
    windows.HiTimer.SetEnabled(true);
}

void EndBySignal(AppWindows& windows) {
    if (windows.endingBySignal)
        return;
    windows.endingBySignal = true;
    TcltForm* main = windows.cltForm.get();
    main->EndRequested = true;
    // Each step may need the event loop to turn (a cancelled copy ends at
    // its next chunk, a closed box returns from its own loop), so the steps
    // are retried until the main window has closed.
    auto* timer = new QTimer(main);
    auto step = [main, sync = windows.SyncForm, timer] {
        if (sync && sync->ChainActive()) {
            sync->CancelRun();
        }
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != sync) {
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
            return;
        }
        if (modal || RunInProgress().load() != 0)
            return;
        if (main->close())
            timer->stop();
    };
    QObject::connect(timer, &QTimer::timeout, main, step);
    timer->start(20);
    step();
}

bool LoadToolkitTranslations(Language lang) {
    // One translator for the program's life; QCoreApplication keeps only
    // a pointer to it.
    static QTranslator translator;
    QCoreApplication::removeTranslator(&translator);
    const char* locale = lang == Language::SimplifiedChinese    ? "zh_CN"
                         : lang == Language::TraditionalChinese ? "zh_TW"
                                                                : nullptr;
    if (!locale)
        return true;
    if (!translator.load(QStringLiteral("qtbase_") + QLatin1String(locale),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

int RunDesktopProgram(QApplication& app) {
    InitAppResources();
    QApplication::setApplicationName(QStringLiteral("Duplora"));
    // The desktop entry's name (without ".desktop"): lets the desktop match
    // the running window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.duplora.Duplora"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/duplora.svg")));
    // The program ends when the main window closes, not when the last
    // visible window goes: during a run only the progress window is shown.
    QApplication::setQuitOnLastWindowClosed(false);
    SelectLanguage();
    LoadToolkitTranslations(CurrentLanguage());

    StartOptions options;
    options.paths = ResolveProgramPaths();
    options.arguments = ProgramArguments(QCoreApplication::arguments());
    std::unique_ptr<AppWindows> windows = CreateAppWindows(options);
    TcltForm* mainForm = windows->cltForm.get();
    windows->cltForm->OnClosed = [mainForm] { QCoreApplication::exit(mainForm->ExitCode); };
    AppWindows* w = windows.get();
    EndSignals endSignals([w](int) { EndBySignal(*w); });
    // Opens centred on the screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        TcltForm* main = windows->cltForm.get();
        main->move(screen->availableGeometry().center() - main->rect().center());
    }
    windows->cltForm->show();
    return app.exec();
}

} // namespace duplora

#pragma once
// TcltForm: the main window. It owns the task list (names in liTask, records
// in the TaskList beside it, same order), edits the basic fields of the
// current task, and starts runs: Go Sync runs the ticked tasks one after the
// other through the progress window.
//
// The editing rules live in tasks/TaskEditRules.h; this class moves texts
// between them and the controls. Everything it needs from the rest of the
// program (the other windows, the file chooser, the share connection, what
// happens on the first showing and after closing) is handed in by the
// start-up sequence.

#include "sync/run/ResultLines.h"
#include "sync/run/RunContext.h"
#include "sync/run/RunFlags.h"
#include "sync/run/RunReport.h"
#include "sync/share/ShareRun.h"
#include "tasks/ConfigEdit.h"
#include "tasks/TaskList.h"

#include <QMainWindow>

#include <array>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QToolBar;
class QTimer;
class QToolButton;
class QUrl;

namespace duplora {

class TAboutForm;
class TSDirDlg;
class TSyncForm;
class TTrayIcon;
class TadvForm;
class TdirForm;
class TrDragController;
struct TaskFields;

class TcltForm : public QMainWindow {
    Q_OBJECT
public:
    // Events the window posts to itself (numbers of the private messages).
    static constexpr int kGoSyncEvent = 1282;
    static constexpr int kDoScheduleEvent = 1287;
    static constexpr int kMiniToTrayEvent = 1288;

    explicit TcltForm(QWidget* parent = nullptr);
    ~TcltForm() override;

    void ApplyTexts();

    // --- owned data ---
    TaskList& Tasks() { return tasks_; }
    const TaskList& Tasks() const { return tasks_; }
    // Rebuilds liTask from the task list (names and check marks), selects
    // nothing and shows no task. After loading and after the command line.
    void RefreshTaskList();
    int CurrentIndex() const { return current_; }
    // True from the start of RunSelectedTask to its end.
    bool Running() const { return running_; }
    // Makes `row` (-1: none) the current task and shows it, as a click on
    // the list does. The scheduler selects the tasks it runs with this.
    void SelectTask(int row) { selectRow(row); }

    RunFlags Flags;         // set once by the command line
    ResultLines Results;    // every run's result lines since the start
    std::string ConfigPath; // Duplora.cfg
    // The file as this window last loaded or saved it: a save asks before
    // it overwrites what another program (duplora-cli, a second window)
    // saved meanwhile.
    ConfigStamp ConfigKnown;
    // Saves the task list under the edit lock (the toolbar's save, the save
    // at close). False: not saved, with the reason in `error`, or with an
    // empty `error` when the user chose not to overwrite another save.
    bool SaveTasks(std::string& error);
    std::string LogPath; // duplora.log
    // Set by the scheduler around RunSelectedTask: the run is quiet.
    bool ScheduledRun = false;
    // The program is being ended (a signal): no further run starts.
    bool EndRequested = false;
    // The program's exit code: after a command-line run 0 when every run
    // finished (or had nothing to do) without failures, 1 otherwise; 2 when
    // the command line selected no task.
    int ExitCode = 0;
    // The four action texts (entries 20..23) the action lists are read with.
    std::array<std::string, 4> ActionNames;

    // --- collaborators, handed in by the start-up sequence ---
    TSyncForm* SyncForm = nullptr;
    TAboutForm* AboutForm = nullptr;
    TadvForm* AdvForm = nullptr;
    TdirForm* DirForm = nullptr;
    // Opens the schedule editor (btTask).
    std::function<void()> ShowScheduleEditor;
    // Runs the due schedules (event 1287), also while a run is going on: it
    // must empty the pending task name either way.
    std::function<void()> DoSchedule;
    // The window's share connection (NetCon), kept between runs; null: each
    // run makes its own for the process's GVfs mounter.
    std::shared_ptr<ShareConnector> Shares;
    // What the last run of RunSelectedTask returned.
    RunReport LastReport;
    // The open-file dialog (opDlg): an existing file, starting in `folder`;
    // empty when the user cancels.
    std::function<QString(const QString& folder)> ChooseFile;
    // Opens a web address (QDesktopServices::openUrl unless replaced).
    std::function<bool(const QUrl&)> OpenUrl;
    // Called once, when the window is shown the first time.
    std::function<void()> OnFirstShow;
    // Asked when the window is about to close (save question, log); false
    // keeps it open. Empty: it closes.
    std::function<bool()> CloseRequested;
    // Called (queued) after the window closed for good: the program ends.
    std::function<void()> OnClosed;

    // --- controls (object names are these names) ---
    QToolBar* ToolBar1 = nullptr;
    QAction* ToolButton1 = nullptr;
    QAction* NewBtn = nullptr;
    QAction* AddBtn = nullptr;
    QAction* DelBtn = nullptr;
    QAction* GoSync = nullptr;
    QAction* btTask = nullptr;
    QAction* AboutBtn = nullptr;
    QAction* ExitBtn = nullptr;
    QLabel* Label1 = nullptr;
    QListWidget* liTask = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* A1 = nullptr;
    QAction* C1 = nullptr;
    QPlainTextEdit* edDesc = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* edName = nullptr;
    QPushButton* btnAdv = nullptr;
    QLabel* Label5 = nullptr;
    QComboBox* edType = nullptr;
    QCheckBox* chkIntoSub = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edMainDir = nullptr;
    QPushButton* BrMain = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* edMirrorDir = nullptr;
    QPushButton* BrMirror = nullptr;
    QRadioButton* rdOnly = nullptr;
    QRadioButton* Label4 = nullptr;
    QPushButton* AddEx = nullptr;
    QPushButton* DelEx = nullptr;
    QListWidget* liExclude = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    std::array<QLabel*, 6> actionLabels{}; // Label8 .. Label13
    QComboBox* cbInMain = nullptr;
    QComboBox* cbInMirror = nullptr;
    QComboBox* cbSizeDiffer = nullptr;
    QComboBox* cbNewInMain = nullptr;
    QComboBox* cbNewInMirror = nullptr;
    QComboBox* cbEmptyDir = nullptr;
    QLabel* StatusBar1 = nullptr; // the one-part status line
    QLabel* lbLastRun = nullptr;  // the current task's last run
    QMenu* NewMenu = nullptr;     // New Task's presets
    QMenu* TrayMenu = nullptr;    // the tray icon's right-click menu
    QAction* TrayOpen = nullptr;
    QAction* TrayRun = nullptr;
    QAction* TrayPause = nullptr;
    QAction* TrayQuit = nullptr;
    TSDirDlg* SDirDlg = nullptr;
    TrDragController* rDragController1 = nullptr;
    // The notification-area icon: inactive until the window is minimised.
    TTrayIcon* TrayIcon1 = nullptr;
    // Whether the desktop has a notification area (QSystemTrayIcon's answer
    // unless replaced). Without one, minimising only minimises: the window
    // is never hidden without a way back.
    std::function<bool()> TrayAvailable;

    // --- handlers ---
    void liTaskClick();
    void ShowCurrentTask();
    void StoreCurrentTask();
    void edNameExit();
    void FolderModeClick();
    void edTypeChange();
    void BrMainClick();
    void BrMirrorClick();
    void AddExClick();
    void DelExClick();
    void NewBtnClick();
    // New Task with a preset's record (tasks/TaskPresets.h).
    void NewPresetClick(int preset);
    void AddBtnClick();
    void DelBtnClick();
    void ItemMoved(int from, int to);
    void CheckMarksChanged();
    void A1Click();
    void C1Click();
    void btnAdvClick();
    void btTaskClick();
    void AboutBtnClick();
    void ExitBtnClick();
    void ToolButton1Click();
    void GoSyncClick();
    // Runs the current task to its end; the outcome says how far it got.
    RunOutcome RunSelectedTask();
    // Runs the task in `row` from its record as it stands now, without
    // making it current: a run the user did not start here (a schedule, the
    // command line) leaves the selection and any field being typed alone.
    RunOutcome RunTaskAt(int row);
    // The schedule whose trigger starts the coming runs; set around them.
    std::string ScheduleName;
    // A task's last run since the start: when it ended and its report.
    struct LastRun {
        std::time_t When = 0;
        RunReport Report;
    };
    // By task name; null when the task has not run since the start.
    const LastRun* LastRunOf(const std::string& name) const;
    // The last run in words: "Last run <when>: <line>" and the counts.
    static QString LastRunText(const LastRun& last);
    // The result lines not yet in the log: each run's block is appended
    // when the run ends, so the closing step writes only what is left.
    std::vector<std::string> UnloggedLines() const;
    // The log line naming what started `run`.
    static std::string StartedByLine(const RunContext& run, const std::string& schedule);
    // The next scheduled moment in words ("" none), for the tray's tip.
    std::function<std::string()> NextScheduledRun;
    // Pausing the scheduler from the tray menu; empty: no such entry works.
    std::function<bool()> SchedulesPaused;
    std::function<void(bool paused)> PauseSchedules;
    // A desktop notification (the tray's balloon); replaced by tests.
    std::function<void(const QString& title, const QString& text)> ShowBalloon;
    // An unattended run failed since the window was last opened.
    bool TrayShowsError() const { return trayError_; }
    // Rewrites the tray icon's tip and look from the last unattended run.
    void UpdateTrayStatus();
    void StatusBar1Click();
    // The run's closing line replaces the maker's link for good.
    void ShowEndLine(const std::string& line);
    // A short note ("saved") in the status line; the line's own text comes
    // back after kStatusNoteMs.
    void ShowStatusNote(const QString& text);
    static constexpr int kStatusNoteMs = 4000;
    // The size at which every field shows without scrolling.
    QSize NaturalSize() const;
    // The smallest the window can be made; below NaturalSize the fields scroll.
    static constexpr QSize kMinimumSize{320, 240};
    // The title's "*": shown while the changed flag is set.
    void UpdateModifiedMark();
    bool StatusIsLink() const { return statusIsLink_; }

    void OnGoSync();
    void OnDoSchedule();
    void OnMiniToTray();
    // Minimised: leave the task bar for the notification area.
    void HideToTray();
    void TrayIcon1Click();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void buildControls();
    void setEditingEnabled(bool on);
    void applyTypeLabels();
    TaskFields fieldsFromControls() const;
    void showFields(const TaskFields& f);
    void appendTask(std::string name, const TaskRecord& record);
    void selectRow(int row);
    void browse(QLineEdit* field, int caption);
    bool foldCaseForLists() const;
    void setStatusText(const QString& text);
    void afterRun(const RunContext& run, std::size_t firstLine);
    void showLastRun();

    TaskList tasks_;
    int current_ = -1;
    bool showingRefusal_ = false; // the status line shows why a field was not stored
    bool loading_ = false;
    bool firstShown_ = false;
    bool statusIsLink_ = true;
    bool lastResultShown_ = false;
    bool lastRunsFailed_ = false; // a run since the start failed or was refused
    bool running_ = false;
    bool minimiseAfterRun_ = false; // 1288 arrived while a run was going on
    bool closedForGood_ = false;    // the closing steps ran and said Close
    std::array<QComboBox*, 6> actionLists_{};
    QTimer* statusNoteTimer_ = nullptr;
    QWidget* fields_ = nullptr; // the scroll area's contents
    QString statusText_;        // the status line's text under a note
    std::map<std::string, LastRun> lastRuns_;
    std::size_t loggedLines_ = 0; // Results lines already in the log
    bool trayError_ = false;
    std::string lastUnattendedName_;
};

} // namespace duplora

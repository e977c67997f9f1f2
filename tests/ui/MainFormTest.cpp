#include "ui/MainForm.h"

#include "sync/run/RunMarker.h"

#include "WindowTestSupport.h"
#include "platform/widgets/rDragController.h"
#include "tasks/TaskPresets.h"
#include "ui/AdvUnit.h"
#include "ui/SMemo.h"
#include "ui/SyncForm.h"
#include "ui/SyncResult.h"
#include "ui/TreeVUnit.h"
#include "ui/addDirU.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

namespace duplora {
namespace {

using testing::ReadFileText;
using testing::WhenModalOpens;
using testing::WriteFileText;

class MainFormTest : public testing::WindowsFixture {
protected:
    TcltForm& w() { return *windows_->cltForm; }

    void AddTasks(std::initializer_list<const char*> names) {
        for (const char* n : names) {
            TaskRecord r = TaskRecord::MakeNew("desc");
            r.set_host_path(std::string("/host/") + n);
            w().Tasks().append(n, r);
        }
        w().RefreshTaskList();
    }
    void Select(int row) { w().liTask->setCurrentRow(row); }
    void Tick(int row, bool on) {
        w().liTask->item(row)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const Task& t : windows_->cltForm->Tasks().tasks())
            out.push_back(t.name);
        return out;
    }
    // Every editing control, as the "no task" state must disable them.
    std::vector<QWidget*> EditingControls() {
        return {w().edName,       w().edType,      w().edDesc,        w().edMainDir,
                w().edMirrorDir,  w().chkIntoSub,  w().liExclude,     w().Label4,
                w().rdOnly,       w().BrMain,      w().BrMirror,      w().AddEx,
                w().DelEx,        w().btnAdv,      w().cbInMain,      w().cbInMirror,
                w().cbSizeDiffer, w().cbNewInMain, w().cbNewInMirror, w().cbEmptyDir};
    }
};

TEST_F(MainFormTest, TextsAndActionListsAfterStartUp) {
    EXPECT_EQ(w().windowTitle(), "Duplora[*]"); // "*" only while there are unsaved changes
    EXPECT_FALSE(w().isWindowModified());
    EXPECT_EQ(w().GoSync->toolTip(), "Go Sync");
    EXPECT_FALSE(w().GoSync->isEnabled());
    ASSERT_EQ(w().edType->count(), 2);
    EXPECT_EQ(w().edType->itemText(0), "Folder");
    EXPECT_EQ(w().edType->currentIndex(), 0);
    auto items = [](QComboBox* b) {
        QStringList l;
        for (int i = 0; i < b->count(); ++i)
            l << b->itemText(i);
        return l.join('|');
    };
    EXPECT_EQ(items(w().cbInMain), "Ignore|Host -> Mirror|Delete");
    EXPECT_EQ(items(w().cbInMirror), "Ignore|Host <- Mirror|Delete");
    EXPECT_EQ(items(w().cbNewInMirror), "Ignore|Host -> Mirror|Host <- Mirror");
    EXPECT_EQ(items(w().cbEmptyDir), "Ignore|Host -> Mirror|Host <- Mirror|Delete");
    EXPECT_TRUE(w().StatusIsLink());
    for (QWidget* c : EditingControls())
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
}

TEST_F(MainFormTest, NewTaskTakesTheFirstFreeNumber) {
    AddTasks({"New Task 1", "new task 3"});
    w().NewBtnClick();
    EXPECT_EQ(Names().back(), "New Task 2");
    EXPECT_EQ(w().CurrentIndex(), 2);
    EXPECT_EQ(w().edName->text(), "New Task 2");
    EXPECT_EQ(w().edDesc->toPlainText(), "Task description...");
    EXPECT_TRUE(w().edName->isEnabled());
    EXPECT_TRUE(w().Tasks().changed());
    w().NewBtnClick();
    EXPECT_EQ(Names().back(), "New Task 4");
    EXPECT_EQ(w().liTask->count(), 4);
    EXPECT_EQ(w().liTask->item(3)->checkState(), Qt::Unchecked);
}

// New Task's menu makes the presets' records (the same the console's
// --preset makes); the plain button keeps the defaults.
TEST_F(MainFormTest, NewTaskMenuOffersThePresets) {
    ASSERT_EQ(w().NewMenu->actions().size(), 2);
    EXPECT_EQ(w().NewMenu->actions()[0]->text(), "Mirror backup");
    EXPECT_EQ(w().NewMenu->actions()[1]->text(), "Two-way");
    const auto* button = qobject_cast<QToolButton*>(w().ToolBar1->widgetForAction(w().NewBtn));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->popupMode(), QToolButton::MenuButtonPopup);
    w().NewMenu->actions()[0]->trigger();
    w().NewMenu->actions()[1]->trigger();
    w().NewBtnClick();
    ASSERT_EQ(w().Tasks().size(), 3u);
    EXPECT_EQ(w().Tasks()[0].record, MakePresetRecord(TaskPreset::Mirror, "Task description..."));
    EXPECT_EQ(w().Tasks()[1].record, MakePresetRecord(TaskPreset::TwoWay, "Task description..."));
    EXPECT_EQ(w().Tasks()[2].record, TaskRecord::MakeNew("Task description..."));
    EXPECT_EQ(w().CurrentIndex(), 2);
    EXPECT_TRUE(w().Tasks()[0].record.include_subfolders());
    EXPECT_EQ(w().Tasks()[0].record.speed_limit(), 0);
    EXPECT_EQ(w().Tasks()[0].record.delete_limit(), 20);
}

// A name typed past 15 characters is not cut silently: the field keeps what
// was typed, the task keeps its last good name, and the status line says why
// at the 16th character.
TEST_F(MainFormTest, ATooLongNameIsToldWhileTyping) {
    AddTasks({"Docs"});
    Select(0);
    w().edName->selectAll();
    QTest::keyClicks(w().edName, "Fifteen chars x");
    EXPECT_EQ(w().Tasks()[0].name, "Fifteen chars x");
    EXPECT_TRUE(w().StatusBar1->text().isEmpty() || w().StatusIsLink());
    QTest::keyClicks(w().edName, "y");
    EXPECT_EQ(w().edName->text(), "Fifteen chars xy");
    EXPECT_EQ(w().Tasks()[0].name, "Fifteen chars x");
    EXPECT_TRUE(w().StatusBar1->text().contains("15")) << w().StatusBar1->text().toStdString();
    QTest::keyClick(w().edName, Qt::Key_Backspace);
    EXPECT_FALSE(w().StatusBar1->text().contains("15"));
}

TEST_F(MainFormTest, CopyAndDeleteNeedACurrentTask) {
    AddTasks({"A"});
    w().AddBtnClick();
    EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"Please select task first!"});
    EXPECT_EQ(boxes_.seen[0].caption, "Error");
    w().DelBtnClick();
    EXPECT_EQ(Names(), std::vector<std::string>{"A"});
    EXPECT_FALSE(w().Tasks().changed());

    Select(0);
    w().AddBtnClick();
    ASSERT_EQ(Names(), (std::vector<std::string>{"A", "New Task 1"}));
    EXPECT_EQ(w().Tasks()[1].record, w().Tasks()[0].record);
    EXPECT_EQ(w().edMainDir->text(), "/host/A");
}

TEST_F(MainFormTest, DeleteLeavesNoTaskAndEverythingDisabled) {
    AddTasks({"A", "B", "C"});
    Select(1);
    w().DelBtnClick();
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(w().liTask->count(), 2);
    EXPECT_EQ(w().CurrentIndex(), -1);
    EXPECT_EQ(w().liTask->currentRow(), -1);
    EXPECT_TRUE(w().edName->text().isEmpty());
    for (QWidget* c : EditingControls())
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_TRUE(w().Tasks().changed());
}

TEST_F(MainFormTest, EditsAreStoredIntoTheCurrentRecordOnly) {
    AddTasks({"A", "B"});
    Select(1);
    w().edName->setText("Renamed");
    w().edMirrorDir->setText("/mirror/b");
    w().cbInMirror->setCurrentIndex(w().cbInMirror->findText("Delete"));
    w().cbNewInMirror->setCurrentIndex(w().cbNewInMirror->findText("Host <- Mirror"));
    w().chkIntoSub->setChecked(false);
    const TaskRecord& b = w().Tasks()[1].record;
    EXPECT_EQ(w().Tasks()[1].name, "Renamed");
    EXPECT_EQ(w().liTask->item(1)->text(), "Renamed");
    EXPECT_EQ(b.mirror_path(), "/mirror/b");
    EXPECT_EQ(b.only_in_mirror_action(), SyncAction::Delete);
    EXPECT_EQ(b.newer_in_mirror_action(), SyncAction::MirrorToHost);
    EXPECT_FALSE(b.include_subfolders());
    EXPECT_EQ(w().Tasks()[0].name, "A");
    EXPECT_EQ(w().Tasks()[0].record.mirror_path(), "");

    // Showing another task and coming back stores nothing and shows the same.
    w().Tasks().setChanged(false);
    Select(0);
    Select(1);
    EXPECT_FALSE(w().Tasks().changed());
    EXPECT_EQ(w().cbInMirror->currentText(), "Delete");
    EXPECT_EQ(w().edMirrorDir->text(), "/mirror/b");

    w().rdOnly->setChecked(true);
    EXPECT_TRUE(w().Tasks()[1].record.only_include_folders());
    EXPECT_TRUE(w().Tasks().changed());
}

TEST_F(MainFormTest, TypeChangeAskedAndUndoneOnNo) {
    TaskRecord r = TaskRecord::MakeNew("d");
    r.set_folder_list("/a\r\n/b\r\n");
    r.set_ignore_masks("*.tmp\r\n");
    r.set_ignore_masks_enabled(true);
    r.set_only_include_folders(true);
    w().Tasks().append("T", r);
    w().RefreshTaskList();
    Select(0);
    w().Tasks().setChanged(false);

    boxes_.answers = {false};
    w().edType->setCurrentIndex(1);
    w().edTypeChange();
    ASSERT_EQ(boxes_.texts(),
              std::vector<std::string>{"Some properties may lose, Continue or Not?"});
    EXPECT_EQ(boxes_.seen[0].caption, "Warning");
    EXPECT_EQ(w().edType->currentIndex(), 0);
    EXPECT_EQ(w().Tasks()[0].record, r);
    EXPECT_EQ(w().liExclude->count(), 2);
    EXPECT_FALSE(w().Tasks().changed());
    EXPECT_TRUE(w().chkIntoSub->isEnabled());

    boxes_.answers = {true};
    w().edType->setCurrentIndex(1);
    w().edTypeChange();
    const TaskRecord& now = w().Tasks()[0].record;
    EXPECT_EQ(now.sync_type(), SyncType::File);
    EXPECT_EQ(now.folder_list(), "");
    EXPECT_EQ(now.ignore_masks(), "");
    EXPECT_FALSE(now.ignore_masks_enabled());
    EXPECT_FALSE(now.include_subfolders());
    EXPECT_FALSE(now.only_include_folders());
    EXPECT_EQ(w().liExclude->count(), 0);
    EXPECT_EQ(w().Label4->text(), "File List");
    EXPECT_TRUE(w().Label4->isChecked());
    EXPECT_FALSE(w().chkIntoSub->isEnabled());
    EXPECT_FALSE(w().chkIntoSub->isChecked());
    EXPECT_FALSE(w().rdOnly->isEnabled());
    EXPECT_TRUE(w().Tasks().changed());

    // Shown again later, the file task keeps its folder-only controls off.
    Select(-1);
    Select(0);
    EXPECT_FALSE(w().chkIntoSub->isEnabled());
    EXPECT_FALSE(w().rdOnly->isEnabled());
}

TEST_F(MainFormTest, DragKeepsRecordsAndCheckMarksPaired) {
    AddTasks({"A", "B", "C"});
    Tick(1, true);
    Select(0);
    w().Tasks().setChanged(false);
    w().rDragController1->MoveItem(w().liTask, 0, 2);
    ASSERT_EQ(Names(), (std::vector<std::string>{"B", "C", "A"}));
    for (int i = 0; i < 3; ++i) {
        const Task& t = w().Tasks()[static_cast<std::size_t>(i)];
        EXPECT_EQ(w().liTask->item(i)->text().toStdString(), t.name);
        EXPECT_EQ(t.record.host_path(), "/host/" + t.name);
        EXPECT_EQ(w().liTask->item(i)->checkState() == Qt::Checked, t.checked) << t.name;
    }
    EXPECT_TRUE(w().Tasks()[0].checked); // B kept its tick
    EXPECT_EQ(w().CurrentIndex(), 2);
    EXPECT_TRUE(w().Tasks().changed());
    // Typing a new name renames the moved task and nothing else.
    w().edName->setText("A2");
    EXPECT_EQ(Names(), (std::vector<std::string>{"B", "C", "A2"}));
}

TEST_F(MainFormTest, GoSyncFollowsTheTicks) {
    AddTasks({"A", "B"});
    EXPECT_FALSE(w().GoSync->isEnabled());
    Tick(0, true);
    EXPECT_TRUE(w().GoSync->isEnabled());
    EXPECT_TRUE(w().Tasks()[0].checked);
    Tick(0, false);
    EXPECT_FALSE(w().GoSync->isEnabled());
    w().A1Click();
    EXPECT_TRUE(w().GoSync->isEnabled());
    EXPECT_TRUE(w().Tasks()[1].checked);
    w().C1Click();
    EXPECT_FALSE(w().GoSync->isEnabled());
    EXPECT_FALSE(w().Tasks()[1].checked);

    // Deleting the only ticked task leaves Go Sync enabled; pressing it says
    // that nothing is ticked.
    Tick(1, true);
    Select(1);
    w().DelBtnClick();
    EXPECT_TRUE(w().GoSync->isEnabled());
    w().GoSyncClick();
    EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"No task is selected!"});
}

TEST_F(MainFormTest, FolderListEntriesAndTheirMessages) {
    AddTasks({"A"});
    Select(0);
    w().edMainDir->setText("/data/host");
    w().edMirrorDir->setText("/mnt/mirror");
    auto addFolder = [this](const QString& folder) {
        WhenModalOpens<TdirForm>([folder](TdirForm* d) {
            d->edDir->setText(folder);
            d->btnOk->click();
        });
        w().AddExClick();
    };
    addFolder("/data/host/sub");
    addFolder("/mnt/mirror/m1");
    addFolder("/data/host");
    addFolder("/data/hostile/x");
    addFolder("/elsewhere");
    EXPECT_EQ(w().Tasks()[0].record.folder_list(), "/sub\r\n/m1\r\n");
    EXPECT_EQ(boxes_.texts(),
              (std::vector<std::string>{
                  "Invalid folder! Neither host folder nor mirror folder can be excluded!",
                  "Invalid folder! Selected folder is neither in host nor in mirror!",
                  "Invalid folder! Selected folder is neither in host nor in mirror!"}));

    // Filling the list up to its 1023 bytes, then one more.
    boxes_.seen.clear();
    const QString longName = QString(200, 'x');
    for (int i = 0; i < 4; ++i)
        addFolder("/data/host/" + longName + QString::number(i));
    const std::string before = w().Tasks()[0].record.folder_list();
    EXPECT_LE(before.size(), 1023u);
    addFolder("/data/host/" + longName + "9");
    EXPECT_EQ(boxes_.texts(),
              std::vector<std::string>{"Operation failed! Too many exclude folders!"});
    EXPECT_EQ(w().Tasks()[0].record.folder_list(), before);
    EXPECT_EQ(w().liExclude->count(), 6);

    // Delete removes the selected entry only.
    w().liExclude->setCurrentRow(0);
    w().DelExClick();
    EXPECT_EQ(w().Tasks()[0].record.folder_list().substr(0, 5), "/m1\r\n");
}

TEST_F(MainFormTest, FileListTakesNamesOnce) {
    TaskRecord r = TaskRecord::MakeNew("d");
    r.set_sync_type(SyncType::File);
    r.set_host_path("/data/host");
    w().Tasks().append("F", r);
    w().RefreshTaskList();
    Select(0);
    QString next;
    QString startedIn;
    w().ChooseFile = [&](const QString& folder) {
        startedIn = folder;
        return next;
    };
    next = "/data/host/report.txt";
    w().AddExClick();
    next = "/anywhere/report.txt";
    w().AddExClick();
    next = "";
    w().AddExClick();
    EXPECT_EQ(startedIn, "/data/host");
    EXPECT_EQ(w().Tasks()[0].record.folder_list(), "report.txt\r\n");
}

TEST_F(MainFormTest, AdvancedOptionsEditTheCurrentRecord) {
    AddTasks({"A", "B"});
    Select(1);
    w().Tasks().setChanged(false);
    WhenModalOpens<TadvForm>([](TadvForm* d) { d->btnCancel->click(); });
    w().btnAdvClick();
    EXPECT_FALSE(w().Tasks().changed());
    WhenModalOpens<TadvForm>([](TadvForm* d) {
        d->chkAuto->setChecked(true);
        d->btnOk->click();
    });
    w().btnAdvClick();
    EXPECT_TRUE(w().Tasks().changed());
    EXPECT_TRUE(w().Tasks()[1].record.auto_mode());
    EXPECT_FALSE(w().Tasks()[0].record.auto_mode());
}

TEST_F(MainFormTest, StatusLineLinksUntilTheFirstRunEnds) {
    std::vector<QString> opened;
    w().OpenUrl = [&](const QUrl& url) {
        opened.push_back(url.toString());
        return true;
    };
    w().StatusBar1Click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toStdString(), Msg(43));
    w().ShowEndLine("Task finish!");
    w().StatusBar1Click();
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(w().StatusBar1->text(), "Task finish!");
    // Texts applied again keep the end line.
    w().ApplyTexts();
    EXPECT_EQ(w().StatusBar1->text(), "Task finish!");
}

// --- runs through the real progress window ---

class MainFormRunTest : public MainFormTest {
protected:
    std::filesystem::path host() const { return root_ / "host"; }
    std::filesystem::path mirror() const { return root_ / "mirror"; }
    void AddRunnable(const char* name, bool autoMode) {
        TaskRecord r = TaskRecord::MakeNew("d");
        r.set_host_path(host().string());
        r.set_mirror_path(mirror().string());
        r.set_include_subfolders(true);
        r.set_only_in_host_action(SyncAction::HostToMirror);
        r.set_auto_mode(autoMode);
        w().Tasks().append(name, r);
    }
    std::string Report() const {
        std::string all;
        for (const std::string& l : windows_->cltForm->Results.Lines())
            all += l + "\n";
        return all;
    }
};

TEST_F(MainFormRunTest, TickedTasksRunInOrderAndBadOnesArePassedOver) {
    WriteFileText(host() / "a.txt", "alpha");
    std::filesystem::create_directories(mirror());
    w().Tasks().append("NoPaths", TaskRecord::MakeNew("d"));
    TaskRecord idle = TaskRecord::MakeNew("d");
    idle.set_host_path("/x");
    idle.set_mirror_path("/y");
    w().Tasks().append("AllIgnore", idle);
    AddRunnable("Quiet", true);
    w().RefreshTaskList();
    w().A1Click();
    w().GoSyncClick();
    EXPECT_EQ(boxes_.texts(), (std::vector<std::string>{"Invalid Host folder or Mirror folder.",
                                                        "No operation specified."}));
    EXPECT_EQ(ReadFileText(mirror() / "a.txt"), "alpha");
    const std::string report = Report();
    EXPECT_EQ(report.find("Start task: NoPaths"), std::string::npos);
    EXPECT_NE(report.find("Start task: Quiet"), std::string::npos);
    EXPECT_FALSE(w().StatusIsLink());
    EXPECT_EQ(w().StatusBar1->text(), "Task finish!");
    EXPECT_EQ(w().CurrentIndex(), 2); // the last ticked task is the current one
    // The result window only shows lines, it never ran for a quiet task.
    EXPECT_FALSE(windows_->resForm->isVisible());
    EXPECT_EQ(windows_->resForm->resMemo->LineCount(),
              static_cast<int>(w().Results.Lines().size()));
}

TEST_F(MainFormRunTest, ShownRunOpensTheResultWindowOnce) {
    WriteFileText(host() / "a.txt", "alpha");
    std::filesystem::create_directories(mirror());
    AddRunnable("Shown", false);
    w().RefreshTaskList();
    Tick(0, true);
    int previewShown = 0;
    WhenModalOpens<TTreeVForm>([&](TTreeVForm* p) {
        ++previewShown;
        p->btnSync->click();
    });
    int resultShown = 0;
    int sideways = -1;
    WhenModalOpens<TresForm>([&](TresForm* r) {
        ++resultShown;
        // The report starts at the left edge, although the last line
        // appended (the long separator) had moved the view to its end.
        sideways = r->resMemo->horizontalScrollBar()->value();
        r->btnClose->click();
    });
    w().GoSyncClick();
    EXPECT_EQ(previewShown, 1);
    EXPECT_EQ(resultShown, 1);
    EXPECT_EQ(sideways, 0);
    EXPECT_EQ(ReadFileText(mirror() / "a.txt"), "alpha");

    // Nothing left to do: message 55 in a box, no result window.
    boxes_.seen.clear();
    w().GoSyncClick();
    EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"No file need to be synchronized!"});
    EXPECT_EQ(boxes_.seen[0].caption, "Prompt");
    EXPECT_FALSE(windows_->SyncForm->isVisible());
}

TEST_F(MainFormRunTest, HiddenDuringTheRunAndMinimisedAfterIt) {
    WriteFileText(host() / "a.txt", "alpha");
    std::filesystem::create_directories(mirror());
    AddRunnable("Quiet", true);
    w().RefreshTaskList();
    Tick(0, true);
    w().show();
    bool hiddenDuringRun = false;
    bool markerSet = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (windows_->SyncForm->isVisible()) {
            hiddenDuringRun = !w().isVisible();
            markerSet = RunInProgress().load() != 0;
            // A minimise request arriving meanwhile waits for the run's end.
            w().OnMiniToTray();
            EXPECT_FALSE(w().isVisible());
        }
    });
    probe.start(0);
    windows_->cltForm->Flags = {};
    w().Tasks()[0].record.set_speed_limit(64); // 5 bytes: still quick, but pumps
    w().GoSyncClick();
    probe.stop();
    EXPECT_TRUE(hiddenDuringRun);
    EXPECT_TRUE(markerSet);
    EXPECT_EQ(RunInProgress().load(), 0);
    EXPECT_TRUE(w().isVisible());
    EXPECT_TRUE(w().windowState() & Qt::WindowMinimized);
}

TEST_F(MainFormRunTest, ClosingAsksToSaveAndAppendsTheLog) {
    const auto cfg = root_ / "home" / "Duplora.cfg";
    const auto log = root_ / "home" / "duplora.log";
    AddTasks({"A"});
    w().NewBtnClick();
    // No: nothing saved, no run made, so the log is not touched either.
    boxes_.answers = {false};
    EXPECT_TRUE(w().close());
    EXPECT_FALSE(std::filesystem::exists(cfg));
    EXPECT_FALSE(std::filesystem::exists(log));
    EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"Task changed, save it or not?"});
}

TEST_F(MainFormRunTest, ClosingSavesOnYesAndWritesTheRunsToTheLog) {
    const auto cfg = root_ / "home" / "Duplora.cfg";
    const auto log = root_ / "home" / "duplora.log";
    WriteFileText(host() / "a.txt", "alpha");
    std::filesystem::create_directories(mirror());
    AddRunnable("Quiet", true);
    w().RefreshTaskList();
    Tick(0, true);
    w().GoSyncClick();
    w().Tasks().setChanged();
    boxes_.answers = {true};
    EXPECT_TRUE(w().close());
    EXPECT_TRUE(std::filesystem::exists(cfg));
    const std::string text = ReadFileText(log);
    // Written when the run ended, once: the closing adds no second copy.
    const std::size_t start = text.find("Start task: Quiet\r\n");
    EXPECT_NE(start, std::string::npos);
    EXPECT_EQ(text.find("Start task: Quiet\r\n", start + 1), std::string::npos);
    EXPECT_EQ(text.rfind("Started by: auto mode\r\n", start), 0u);
    // A second close (the program is ending anyway) writes nothing more.
    EXPECT_TRUE(w().close());
    EXPECT_EQ(ReadFileText(log), text);
}

// --- refusals, folder pairs, closing by Esc, keys and feedback ---

TEST_F(MainFormRunTest, RefusedRunSaysWhyInABoxTheStatusLineAndTheReport) {
    WriteFileText(mirror() / "keep.txt", "precious");
    AddRunnable("Risky", false);
    w().Tasks()[0].record.set_only_in_mirror_action(SyncAction::Delete);
    w().RefreshTaskList();
    Tick(0, true);
    w().GoSyncClick();
    const std::string line = "Run refused: the folder " + host().string() +
                             " does not exist, and running would delete every file on the "
                             "other side.";
    ASSERT_EQ(boxes_.seen.size(), 1u);
    EXPECT_EQ(boxes_.seen[0].text, line);
    EXPECT_EQ(boxes_.seen[0].caption, "Error");
    EXPECT_EQ(w().StatusBar1->text().toStdString(), line);
    EXPECT_NE(Report().find("Start task: Risky\n" + line + "\n"), std::string::npos) << Report();
    EXPECT_EQ(ReadFileText(mirror() / "keep.txt"), "precious");

    // Quiet: the same line in the report and the status line, no box.
    boxes_.seen.clear();
    w().Tasks()[0].record.set_auto_mode(true);
    w().GoSyncClick();
    EXPECT_TRUE(boxes_.seen.empty());
    EXPECT_EQ(w().StatusBar1->text().toStdString(), line);
}

TEST_F(MainFormRunTest, SameFolderIsRefusedAndNestedFoldersAreAsked) {
    WriteFileText(host() / "inner" / "a.txt", "alpha");
    AddRunnable("Pair", false);
    TaskRecord& r = w().Tasks()[0].record;
    std::filesystem::create_directory_symlink(host(), root_ / "host-link");
    r.set_mirror_path((root_ / "host-link").string() + "/");
    w().RefreshTaskList();
    Tick(0, true);
    w().GoSyncClick();
    ASSERT_EQ(boxes_.seen.size(), 1u);
    EXPECT_EQ(boxes_.seen[0].kind, BoxKind::Ok);
    EXPECT_EQ(boxes_.seen[0].text,
              "Host folder and mirror folder are the same folder: " + host().string());

    // Mirror inside the host: asked, naming the inner folder; No runs nothing.
    boxes_.seen.clear();
    r.set_mirror_path((host() / "inner").string());
    boxes_.answers = {false};
    const std::size_t linesBefore = w().Results.Lines().size();
    w().GoSyncClick();
    ASSERT_EQ(boxes_.seen.size(), 1u);
    EXPECT_EQ(boxes_.seen[0].kind, BoxKind::YesNo);
    EXPECT_EQ(boxes_.seen[0].caption, "Warning");
    EXPECT_EQ(boxes_.seen[0].text, "The folder " + (host() / "inner").string() +
                                       " lies inside the other folder of this task and is left "
                                       "out of the scan. Continue?");
    EXPECT_EQ(w().Results.Lines().size(), linesBefore);
}

TEST_F(MainFormRunTest, EscAtTheSaveQuestionKeepsTheWindowAndTheEdits) {
    const auto cfg = root_ / "home" / "Duplora.cfg";
    w().NewBtnClick();
    w().show();
    SetBoxHook({}); // the real box, answered by the keyboard and its close button
    std::vector<QString> buttons;
    for (int round = 0; round < 2; ++round) {
        WhenModalOpens<QMessageBox>([&, round](QMessageBox* box) {
            for (QAbstractButton* b : box->buttons())
                if (b->isVisible())
                    buttons.push_back(b->text());
            if (round == 0)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->close();
        });
        EXPECT_FALSE(w().close());
        EXPECT_TRUE(w().isVisible());
        EXPECT_TRUE(w().Tasks().changed());
        EXPECT_FALSE(std::filesystem::exists(cfg));
    }
    EXPECT_EQ(buttons.size(), 4u); // Yes and No only, each time
}

TEST_F(MainFormTest, KeysTitleMarkAndSavedNote) {
    w().show();
    w().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w()));
    EXPECT_FALSE(w().isWindowModified());
    QTest::keyClick(&w(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(Names(), std::vector<std::string>{"New Task 1"});
    w().UpdateModifiedMark();
    EXPECT_TRUE(w().isWindowModified());
    EXPECT_TRUE(w().windowTitle().contains(QStringLiteral("[*]")));

    // Delete removes the task only while the list has the focus.
    w().edName->setFocus();
    QTest::keyClick(w().edName, Qt::Key_Delete);
    EXPECT_EQ(Names().size(), 1u);
    w().liTask->setFocus();
    QTest::keyClick(w().liTask, Qt::Key_Delete);
    EXPECT_TRUE(Names().empty());

    const QString link = w().StatusBar1->text();
    QTest::keyClick(&w(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(std::filesystem::exists(root_ / "home" / "Duplora.cfg"));
    EXPECT_FALSE(w().isWindowModified());
    EXPECT_EQ(w().StatusBar1->text(), QStringLiteral("Tasks saved."));
    QTest::qWait(TcltForm::kStatusNoteMs + 300);
    EXPECT_EQ(w().StatusBar1->text(), link);

    // F5 is Go Sync: with nothing ticked the button is off and F5 does nothing;
    // ticked, it runs (and says nothing is selected for this task's paths).
    AddTasks({"T"});
    Tick(0, true);
    QTest::keyClick(&w(), Qt::Key_F5);
    EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"Invalid Host folder or Mirror folder."});
}

} // namespace
} // namespace duplora

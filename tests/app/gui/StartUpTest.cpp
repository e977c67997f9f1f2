// The start-up sequence in-process: what the first showing of the main
// window does with the command line, and a configuration that cannot be read.
#include "app/gui/StartUp.h"

#include "../../ui/WindowTestSupport.h"
#include "tasks/ConfigFile.h"
#include "ui/MainForm.h"

#include <QAction>
#include <QListWidget>

namespace duplora {
namespace {

namespace fs = std::filesystem;
using testing::BoxScript;
using testing::ReadFileText;
using testing::WriteFileText;

class StartUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        SetLanguage(Language::English);
        root_ = dir_.path().toStdString();
        options_.paths.folder = (root_ / "home").string() + "/";
        fs::create_directories(root_ / "home");
        options_.paths.configPath = options_.paths.folder + "Duplora.cfg";
        options_.paths.logPath = options_.paths.folder + "duplora.log";
    }

    void SaveTasks(bool autoMode) {
        WriteFileText(root_ / "h" / "a.txt", "alpha");
        fs::create_directories(root_ / "m");
        TaskList list;
        for (const char* name : {"Alpha", "Beta"}) {
            TaskRecord r = TaskRecord::MakeNew("d");
            r.set_host_path((root_ / "h").string());
            r.set_mirror_path((root_ / "m" / name).string());
            r.set_only_in_host_action(SyncAction::HostToMirror);
            r.set_auto_mode(autoMode && std::string(name) == "Beta");
            list.append(name, r);
        }
        std::string error;
        ASSERT_TRUE(SaveConfiguration(options_.paths.configPath, list, error));
    }

    // Builds the windows, shows the main window and lets the posted events
    // run. True when the main window closed for good.
    bool Start(std::vector<std::string> args) {
        options_.arguments = std::move(args);
        windows_ = CreateAppWindows(options_);
        closed_ = false;
        windows_->cltForm->OnClosed = [this] { closed_ = true; };
        windows_->cltForm->show();
        for (int i = 0; i < 10; ++i)
            QCoreApplication::processEvents();
        return closed_;
    }
    TcltForm& main() { return *windows_->cltForm; }

    QTemporaryDir dir_;
    fs::path root_;
    StartOptions options_;
    BoxScript boxes_;
    std::unique_ptr<AppWindows> windows_;
    bool closed_ = false;
};

TEST_F(StartUpTest, NoArgumentsShowsTheListAndRunsNothing) {
    SaveTasks(false);
    EXPECT_FALSE(Start({}));
    EXPECT_EQ(main().liTask->count(), 2);
    EXPECT_EQ(main().CurrentIndex(), -1);
    EXPECT_FALSE(main().GoSync->isEnabled());
    EXPECT_FALSE(main().isMinimized());
    EXPECT_FALSE(fs::exists(root_ / "m" / "Alpha"));
}

TEST_F(StartUpTest, HiddenStartAloneOnlyMinimises) {
    SaveTasks(true);
    EXPECT_FALSE(Start({"/h"}));
    EXPECT_TRUE(main().windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(fs::exists(root_ / "m" / "Beta"));
}

TEST_F(StartUpTest, TwoArgumentsWithoutHiddenSelectNothing) {
    SaveTasks(true);
    EXPECT_FALSE(Start({"/A", "more"}));
    EXPECT_FALSE(main().GoSync->isEnabled());
    EXPECT_FALSE(main().Flags.command_line_run);
    EXPECT_FALSE(fs::exists(root_ / "m" / "Beta"));
}

TEST_F(StartUpTest, HiddenAutoRunRunsTheAutoTasksAndEnds) {
    SaveTasks(true);
    EXPECT_TRUE(Start({"/H", "/a"}));
    EXPECT_EQ(ReadFileText(root_ / "m" / "Beta" / "a.txt"), "alpha");
    EXPECT_FALSE(fs::exists(root_ / "m" / "Alpha"));
    EXPECT_TRUE(boxes_.seen.empty());
    const std::string log = ReadFileText(root_ / "home" / "duplora.log");
    EXPECT_NE(log.find("Start task: Beta"), std::string::npos);
}

TEST_F(StartUpTest, UnreadableConfigurationIsReportedAndTheListIsEmpty) {
    fs::create_directories(options_.paths.configPath); // a folder where the file should be
    EXPECT_FALSE(Start({}));
    ASSERT_EQ(boxes_.seen.size(), 1u);
    EXPECT_EQ(boxes_.seen[0].text, "Cannot open file " + options_.paths.configPath);
    EXPECT_EQ(boxes_.seen[0].caption, "Error");
    EXPECT_EQ(main().liTask->count(), 0);
}

} // namespace
} // namespace duplora

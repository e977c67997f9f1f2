// Runs the real desktop program with a selector on its command line and
// checks what it did to the folders and the log once it has ended by itself.
#include "TestPaths.h"
#include "tasks/ConfigFile.h"
#include "tasks/TextTable.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace duplora {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

class CommandLineRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        root_ = dir_.path().toStdString();
        home_ = root_ / "home";
        fs::create_directories(home_);
        fs::create_directories(root_ / "registry");
        SetLanguage(Language::English);
    }

    void AddTask(const std::string& name, const fs::path& host, const fs::path& mirror,
                 SyncAction onlyInHost, SyncAction onlyInMirror = SyncAction::Ignore) {
        TaskRecord r = TaskRecord::MakeNew("test");
        r.set_host_path(host.string());
        r.set_mirror_path(mirror.string());
        r.set_include_subfolders(true);
        r.set_only_in_host_action(onlyInHost);
        r.set_only_in_mirror_action(onlyInMirror);
        list_.append(name, r);
    }

    void SaveConfig() {
        std::string error;
        ASSERT_TRUE(SaveConfiguration((home_ / "Duplora.cfg").string(), list_, error)) << error;
    }

    // Starts the program and waits for it to end by itself; the exit code.
    // What it printed is kept in out_ and err_.
    int RunProgram(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DUPLORA_HOME", QString::fromStdString(home_.string()));
        env.insert("DUPLORA_REGISTRY_DIR", QString::fromStdString((root_ / "registry").string()));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LANG", "C.UTF-8");
        env.remove("LC_ALL");
        env.remove("LC_MESSAGES");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(DUPLORA_GUI_PATH), args);
        EXPECT_TRUE(p.waitForStarted(10000));
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "the program did not end by itself";
            return -1;
        }
        out_ = p.readAllStandardOutput().toStdString();
        err_ = p.readAllStandardError().toStdString();
        return p.exitCode();
    }

    QTemporaryDir dir_;
    fs::path root_, home_;
    TaskList list_;
    std::string out_, err_;
};

TEST_F(CommandLineRun, NamedTaskRunsQuietlyAndTheLogGetsItsBlock) {
    const fs::path host = root_ / "host", mirror = root_ / "mirror";
    WriteFile(host / "a.txt", "alpha");
    WriteFile(host / "sub/b.txt", "beta");
    fs::create_directories(mirror);
    AddTask("Other", root_ / "x", root_ / "y", SyncAction::HostToMirror);
    AddTask("Backup Docs", host, mirror, SyncAction::HostToMirror);
    SaveConfig();
    const std::string configBefore = ReadAll(home_ / "Duplora.cfg");

    // Lower-case selector and another case for the name.
    EXPECT_EQ(RunProgram({"-abackup docs"}), 0);
    // The result lines on stdout as they are written, as duplora-cli does.
    EXPECT_NE(out_.find("Start task: Backup Docs\n"), std::string::npos) << out_;
    EXPECT_NE(out_.find("Task finish!\n"), std::string::npos) << out_;

    EXPECT_EQ(ReadAll(mirror / "a.txt"), "alpha");
    EXPECT_EQ(ReadAll(mirror / "sub/b.txt"), "beta");
    EXPECT_FALSE(fs::exists(root_ / "y")); // the other task did not run
    const std::string log = ReadAll(home_ / "duplora.log");
    EXPECT_NE(log.find("Start task: Backup Docs\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Task finish!\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Start task: Other"), std::string::npos);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\0'); // one block, closed by a NUL byte
    EXPECT_EQ(std::count(log.begin(), log.end(), '\0'), 1);
    // The run changed no task: the configuration is as it was.
    EXPECT_EQ(ReadAll(home_ / "Duplora.cfg"), configBefore);

    // A second run appends a second block and copies nothing more.
    EXPECT_EQ(RunProgram({"-ABACKUP DOCS"}), 0);
    const std::string log2 = ReadAll(home_ / "duplora.log");
    EXPECT_EQ(log2.substr(0, log.size()), log);
    EXPECT_NE(log2.find("No file need to be synchronized!", log.size()), std::string::npos);
}

TEST_F(CommandLineRun, UnknownNameEndsAtOnceWithoutTouchingAnything) {
    const fs::path host = root_ / "host", mirror = root_ / "mirror";
    WriteFile(host / "a.txt", "alpha");
    fs::create_directories(mirror);
    AddTask("Backup", host, mirror, SyncAction::HostToMirror);
    SaveConfig();
    EXPECT_EQ(RunProgram({"-ANobody"}), 2);
    EXPECT_NE(err_.find("duplora: no task matched 'Nobody'\n"), std::string::npos) << err_;
    EXPECT_FALSE(fs::exists(mirror / "a.txt"));
    EXPECT_FALSE(fs::exists(home_ / "duplora.log"));
}

TEST_F(CommandLineRun, HelpAndVersionNeedNoWindow) {
    EXPECT_EQ(RunProgram({"--version"}), 0);
    EXPECT_EQ(out_, std::string("duplora ") + DUPLORA_VERSION + "\n");
    EXPECT_EQ(RunProgram({"--help"}), 0);
    EXPECT_EQ(out_.rfind("Usage: duplora [/H] [/A | -Aname | -Cname]\n", 0), 0u) << out_;
}

TEST_F(CommandLineRun, NameInItsOwnArgumentRunsNothingAndGetsAHint) {
    const fs::path host = root_ / "host", mirror = root_ / "mirror";
    WriteFile(host / "a.txt", "alpha");
    fs::create_directories(mirror);
    AddTask("Photos backup", host, mirror, SyncAction::HostToMirror);
    SaveConfig();
    // The window stays open (two arguments select nothing): read the hint,
    // then end the program this test started.
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DUPLORA_HOME", QString::fromStdString(home_.string()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(DUPLORA_GUI_PATH), {"-A", "Photos backup"});
    ASSERT_TRUE(p.waitForStarted(10000));
    std::string err;
    for (int i = 0; i < 100 && err.find('\n') == std::string::npos; ++i) {
        p.waitForReadyRead(100);
        err += p.readAllStandardError().toStdString();
    }
    p.kill();
    p.waitForFinished();
    EXPECT_EQ(err.rfind("duplora: nothing is run: the task name belongs in the same argument as "
                        "-A, as in -A\"Photos backup\"\n",
                        0),
              0u)
        << err;
    EXPECT_FALSE(fs::exists(mirror / "a.txt"));
}

TEST_F(CommandLineRun, MissingHostWithDeleteIsSkippedAndMirrorKept) {
    // A host that does not exist must never make the mirror's files look
    // "only in the mirror" and be deleted.
    const fs::path mirror = root_ / "mirror";
    WriteFile(mirror / "keep.txt", "precious");
    AddTask("Risky", root_ / "gone", mirror, SyncAction::HostToMirror, SyncAction::Delete);
    AddTask("Auto", root_ / "gone2", mirror, SyncAction::HostToMirror);
    SaveConfig();
    EXPECT_EQ(RunProgram({"-Arisky"}), 1);
    EXPECT_EQ(ReadAll(mirror / "keep.txt"), "precious");
    // Refused, and the log and stdout say why.
    const std::string line = "Run refused: the folder " + (root_ / "gone").string() +
                             " does not exist, and running would delete every file on the "
                             "other side.";
    EXPECT_NE(ReadAll(home_ / "duplora.log").find(line + "\r\n"), std::string::npos);
    EXPECT_NE(out_.find(line + "\n"), std::string::npos) << out_;
}

TEST_F(CommandLineRun, EndingSignalCancelsTheRunAndKeepsTheReport) {
    const fs::path host = root_ / "host", mirror = root_ / "mirror";
    // 2 MB at 100 KB/s: the copy would take 20 s.
    WriteFile(host / "big.bin", std::string(2'000'000, 'x'));
    AddTask("Slow", host, mirror, SyncAction::HostToMirror);
    list_[0].record.set_speed_limit(100);
    SaveConfig();
    const std::string configBefore = ReadAll(home_ / "Duplora.cfg");

    for (const int signo : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signo);
        fs::remove_all(mirror);
        fs::create_directories(mirror);
        fs::remove(home_ / "duplora.log");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DUPLORA_HOME", QString::fromStdString(home_.string()));
        env.insert("DUPLORA_REGISTRY_DIR", QString::fromStdString((root_ / "registry").string()));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LANG", "C.UTF-8");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(DUPLORA_GUI_PATH), {"-Aslow"});
        ASSERT_TRUE(p.waitForStarted(10000));
        // The copy has begun once its temporary file is in the mirror.
        for (int i = 0; i < 1000 && fs::is_empty(mirror); ++i)
            QThread::msleep(20);
        ASSERT_FALSE(fs::is_empty(mirror)) << "the copy never started";
        ASSERT_EQ(::kill(static_cast<pid_t>(p.processId()), signo), 0);
        ASSERT_TRUE(p.waitForFinished(15000)) << "the program did not end after the signal";
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "ended by the signal itself";

        const std::string log = ReadAll(home_ / "duplora.log");
        EXPECT_NE(log.find("Start task: Slow\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find("User break the task!\r\n"), std::string::npos) << log;
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), '\0');
        EXPECT_FALSE(fs::exists(mirror / "big.bin")) << "a cut copy never takes the name";
        EXPECT_EQ(ReadAll(home_ / "Duplora.cfg"), configBefore);
    }
}

TEST_F(CommandLineRun, SkipMirrorScanCopiesOverExistingFiles) {
    const fs::path host = root_ / "host", mirror = root_ / "mirror";
    WriteFile(host / "a.txt", "new");
    WriteFile(mirror / "a.txt", "old!");
    WriteFile(mirror / "only.txt", "stays");
    AddTask("Push", host, mirror, SyncAction::HostToMirror, SyncAction::Delete);
    SaveConfig();
    // -C: the mirror counts as empty, so a.txt is copied although the
    // mirror holds a file of that name, and nothing in the mirror is seen
    // to delete.
    EXPECT_EQ(RunProgram({"-CPush"}), 0);
    EXPECT_EQ(ReadAll(mirror / "a.txt"), "new");
    EXPECT_EQ(ReadAll(mirror / "only.txt"), "stays");
}

} // namespace
} // namespace duplora

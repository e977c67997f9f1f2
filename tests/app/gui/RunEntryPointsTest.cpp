// Every way to start a run answers the same for the same task: the window's
// Go Sync (auto mode, so it asks nothing), a run of the desktop scheduler,
// the desktop program's -A and -C, `duplora-cli run` and `duplora-cli plan`.
// Each row is a task; each entry point must succeed or refuse alike, with
// the same line.
#include "TestPaths.h"
#include "cli/Cli.h"
#include "sync/setaside/Versions.h"
#include "tasks/ConfigFile.h"
#include "tasks/Helpers.h"
#include "tasks/WildMask.h"
#include "ui/MainForm.h"
#include "ui/WindowTestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <sys/stat.h>
#include <utime.h>

#include <sstream>

namespace duplora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileText;
using testing::WriteFileText;

struct Row {
    const char* name;
    // Makes the row's folders below `root` and returns its task.
    std::function<TaskRecord(const fs::path& root)> make;
    bool refused;
    // The line every entry point must show, given the task.
    std::function<std::string(const fs::path& root, const TaskRecord&)> line;
    bool dashC = true; // -C takes the mirror as empty: a row without work differs
};

TaskRecord Base(const fs::path& host, const fs::path& mirror) {
    TaskRecord r = TaskRecord::MakeNew("entry points");
    r.set_host_path(host.string());
    r.set_mirror_path(mirror.string());
    r.set_include_subfolders(true);
    r.set_only_in_host_action(SyncAction::HostToMirror);
    r.set_newer_in_host_action(SyncAction::HostToMirror);
    r.set_speed_limit(0);
    return r;
}

void SetTime(const fs::path& p, std::time_t t) {
    const struct utimbuf times { t, t };
    ASSERT_EQ(utime(p.c_str(), &times), 0);
}

// Text 206 filled in order: %1 .. %7.
std::string LimitLine(const std::vector<std::string>& values) {
    std::string line = Msg(206);
    for (std::size_t i = 0; i < values.size(); ++i)
        line = ReplaceFirst(line, "%" + std::to_string(i + 1), values[i]);
    return line;
}

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {"same folder",
         [](const fs::path& root) {
             WriteFileText(root / "h/a.txt", "a");
             fs::create_symlink(root / "h", root / "link");
             return Base(root / "h", root / "link");
         },
         true,
         [](const fs::path& root, const TaskRecord&) {
             return MsgFill(181, (root / "h").string());
         }},
        {"nested",
         [](const fs::path& root) {
             WriteFileText(root / "h/a.txt", "a");
             WriteFileText(root / "h/m/a.txt", "a");
             SetTime(root / "h/a.txt", 1700000000);
             SetTime(root / "h/m/a.txt", 1700000000);
             return Base(root / "h", root / "h/m");
         },
         false, [](const fs::path&, const TaskRecord&) { return Msg(55); }, false},
        {"missing host with delete",
         [](const fs::path& root) {
             WriteFileText(root / "m/keep.txt", "k");
             TaskRecord r = Base(root / "gone", root / "m");
             r.set_only_in_mirror_action(SyncAction::Delete);
             return r;
         },
         true,
         [](const fs::path& root, const TaskRecord&) {
             return MsgFill(180, (root / "gone").string());
         }},
        {"invalid mask",
         [](const fs::path& root) {
             WriteFileText(root / "h/a.txt", "a");
             TaskRecord r = Base(root / "h", root / "m");
             r.set_ignore_masks("[abc\r\n");
             r.set_ignore_masks_enabled(true);
             return r;
         },
         true,
         [](const fs::path&, const TaskRecord&) {
             try {
                 ValidateMask("[abc");
             } catch (const InvalidMask& e) {
                 return std::string(e.what());
             }
             return std::string("?");
         }},
        {"relative root", [](const fs::path& root) { return Base("h", root / "m"); }, true,
         [](const fs::path&, const TaskRecord&) {
             return Msg(32) + " Host folder \"h\" is a relative path; a run needs a full path "
                              "starting with /.";
         }},
        {"bad versioning folder",
         [](const fs::path& root) {
             WriteFileText(root / "h/a.txt", "a");
             TaskRecord r = Base(root / "h", root / "m");
             r.set_on_delete(DeleteMode::Versions);
             r.set_versions_folder("../up");
             return r;
         },
         true, [](const fs::path&, const TaskRecord& r) { return VersionsFolderProblem(r); }},
        {"delete limit exceeded",
         [](const fs::path& root) {
             for (int i = 0; i < 10; ++i) {
                 const std::string name = "f" + std::to_string(i) + ".txt";
                 WriteFileText(root / "h" / name, "new");
                 WriteFileText(root / "m" / name, "old");
                 SetTime(root / "h" / name, 1700000100);
                 SetTime(root / "m" / name, 1700000000);
             }
             TaskRecord r = Base(root / "h", root / "m");
             r.set_delete_limit(10);
             return r;
         },
         true,
         [](const fs::path&, const TaskRecord&) {
             // Host: 0 of 10 files; mirror: 10 of 10 replaced (100%); limit 10%.
             return LimitLine({"0", "10", "0", "10", "10", "100", "10"});
         }},
        {"nothing to do",
         [](const fs::path& root) {
             WriteFileText(root / "h/a.txt", "a");
             WriteFileText(root / "m/a.txt", "a");
             SetTime(root / "h/a.txt", 1700000000);
             SetTime(root / "m/a.txt", 1700000000);
             return Base(root / "h", root / "m");
         },
         false, [](const fs::path&, const TaskRecord&) { return Msg(55); }, false},
    };
    return rows;
}

class RunEntryPoints : public testing::WindowsFixture {
protected:
    // A fresh set of folders per entry point: a run may change them.
    fs::path Fresh(const std::string& label) {
        const fs::path p = root_ / label;
        fs::create_directories(p);
        return p;
    }

    std::string Expected(const Row& row, const fs::path& root, const TaskRecord& r) {
        return row.line(root, r);
    }

    // The window's Go Sync, or a run of the desktop scheduler.
    void Window(const Row& row, bool scheduled) {
        const fs::path root = Fresh(std::string(scheduled ? "sched" : "window"));
        TaskRecord r = row.make(root);
        r.set_auto_mode(!scheduled);
        TcltForm& w = *windows_->cltForm;
        w.Tasks().clear();
        w.Tasks().append("T", r);
        w.RefreshTaskList();
        w.SelectTask(0);
        w.ScheduledRun = scheduled;
        w.RunSelectedTask();
        w.ScheduledRun = false;
        const RunReport& report = w.LastReport;
        EXPECT_EQ(report.Succeeded(), !row.refused) << (scheduled ? "schedule" : "window");
        EXPECT_EQ(report.Line, Expected(row, root, r)) << (scheduled ? "schedule" : "window");
        EXPECT_TRUE(boxes_.seen.empty()) << "a quiet run shows no box";
    }

    // duplora-cli run / plan, in this process.
    void Console(const Row& row, const char* command) {
        const fs::path root = Fresh(command);
        const TaskRecord r = row.make(root);
        TaskList list;
        list.append("T", r);
        const std::string config = (root / "Duplora.cfg").string();
        std::string error;
        ASSERT_TRUE(SaveConfiguration(config, list, error)) << error;
        std::ostringstream out, err;
        const int code = cli::RunCli({"--config", config, command, "T"}, out, err);
        EXPECT_EQ(code, row.refused ? 1 : 0) << command << ": " << err.str();
        const std::string expected = Expected(row, root, r);
        if (row.refused) {
            EXPECT_NE(err.str().find(expected), std::string::npos) << command << ": " << err.str();
        } else if (std::string(command) == "run") {
            EXPECT_NE(out.str().find(expected), std::string::npos) << out.str();
        }
    }

    // The desktop program started with -A or -C: its exit code and its log.
    void Program(const Row& row, const char* selector) {
        const fs::path root = Fresh(selector);
        const TaskRecord r = row.make(root);
        TaskList list;
        list.append("T", r);
        std::string error;
        ASSERT_TRUE(SaveConfiguration((root / "Duplora.cfg").string(), list, error));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DUPLORA_HOME", QString::fromStdString(root.string()));
        env.insert("DUPLORA_REGISTRY_DIR", QString::fromStdString((root / "registry").string()));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(DUPLORA_GUI_PATH), {QString(selector) + "T"});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), row.refused ? 1 : 0) << selector;
        const std::string log = ReadFileText(root / "duplora.log");
        const std::string expected = Expected(row, root, r);
        // Message 32 and its note leave no block in the desktop program's log
        // unless the run is quiet, which a command-line run is.
        EXPECT_NE(log.find(expected), std::string::npos) << selector << ":\n" << log;
    }
};

TEST_F(RunEntryPoints, EveryEntryPointDecidesAlike) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        root_ = fs::path(dir_.path().toStdString()) / row.name;
        Window(row, false);
        Window(row, true);
        Console(row, "run");
        Console(row, "plan");
        Program(row, "-A");
        if (row.dashC)
            Program(row, "-C");
    }
}

} // namespace
} // namespace duplora

// What the windows show of a run with the memory of the last run: the
// preview's kind pictures, reasons and filter buttons on a plan built by
// hand, and the conflicts in the main window's last-run text.
#include "ui/MainForm.h"
#include "ui/TreeVUnit.h"

#include "sync/TreeFixture.h"
#include "sync/run/SyncRun.h"
#include "tasks/Helpers.h"
#include "tasks/TaskPresets.h"
#include "tasks/TextTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

using namespace duplora;

namespace {

void Add(SyncPlan& plan, bool host, std::string_view path, TSyncOp op) {
    TFileEntry e;
    e.RelPath = host ? plan.StoreHostPath(path) : plan.StoreMirrorPath(path);
    e.Size = 1234;
    e.Age = PackAge(1'800'000'000 + (host ? 7200 : 3600));
    e.Op = op;
    if (host)
        plan.HostFiles.push_back(e);
    else
        plan.MirrorFiles.Append(e);
}

TFileEntry& Mirror(SyncPlan& plan, std::string_view path) {
    return plan.MirrorFiles.Items(plan.MirrorFiles.Find(path));
}

// /chg.txt         changed in the host, gone from the mirror -> to the mirror
// /gone.txt        gone from the host, unchanged in the mirror -> delete there
// /notes.txt       changed on both sides                     -> to the mirror
// /docs/both.txt   changed on both sides                     -> to the mirror
// /docs/plain.txt  only in the host, never seen               -> to the mirror
struct RememberedPlan {
    SyncPlan plan;
    TTreeVForm form;

    explicit RememberedPlan(bool memory = true) {
        SetLanguage(Language::English);
        TTreeVForm::HideEqual = false;
        Add(plan, true, "/chg.txt", opToMirror);
        Add(plan, true, "/docs/both.txt", opToMirror);
        Add(plan, true, "/docs/plain.txt", opToMirror);
        Add(plan, true, "/notes.txt", opToMirror);
        Add(plan, false, "/notes.txt", opNone);
        Add(plan, false, "/gone.txt", opDelete);
        Add(plan, false, "/docs/both.txt", opNone);
        plan.MirrorFiles.Sort();
        plan.Count(SyncAction::Ignore);
        if (memory) {
            plan.RememberedSince = 1'800'000'000;
            plan.SetRemembered(plan.HostFiles[0], true, Remembered::ChangedDeletedInMirror);
            plan.SetRemembered(plan.HostFiles[1], true, Remembered::ChangedOnBoth);
            plan.SetRemembered(plan.HostFiles[3], true, Remembered::ChangedOnBoth);
            plan.SetRemembered(Mirror(plan, "/gone.txt"), false, Remembered::DeletedInHost);
        }
        form.SetPlan(&plan, "/h", "/m", SyncAction::Ignore);
        form.resize(900, 500);
        form.show();
        QElapsedTimer t;
        t.start();
        while (!form.TreeBuilt() && t.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    std::string Folder() const {
        const int node = form.TreeModel()->NodeOf(form.TreeV->currentIndex());
        return node < 0 ? std::string() : std::string(form.Tree().Nodes[std::size_t(node)].Path);
    }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const TPreviewRow& r : form.Rows())
            names.insert(std::string(RowName(r)));
        return names;
    }
    int RowOf(std::string_view name) const {
        for (std::size_t i = 0; i < form.Rows().size(); ++i)
            if (RowName(form.Rows()[i]) == name)
                return static_cast<int>(i);
        return -1;
    }
    QVariant Cell(std::string_view name, int column, int role) const {
        return form.GridModel()->data(form.GridModel()->index(RowOf(name), column), role);
    }
};

// Each filter button keeps the rows of its group; a folder without them
// gives way to the first folder that has some, and pressing the button
// again shows every row.
TEST(RememberPreview, FilterButtonsKeepTheirKindsAndFindTheirFolder) {
    RememberedPlan f;
    ASSERT_TRUE(f.form.TreeBuilt());
    for (QToolButton* b : f.form.btnKinds)
        EXPECT_TRUE(b->isVisible());
    EXPECT_EQ(f.form.btnKinds[1]->toolTip(), QString::fromStdString(Msg(291)));
    ASSERT_EQ(f.Folder(), "/");
    const struct {
        const char* select; // a folder chosen first, or nullptr
        int button;
        KindFilter filter;
        const char* folder;
        std::set<std::string> rows;
    } steps[] = {
        {nullptr, 0, KindFilter::RememberedDeletes, "/", {"gone.txt"}},
        {nullptr, 1, KindFilter::Conflicts, "/", {"notes.txt"}},
        {"/docs", 1, KindFilter::None, "/docs", {"both.txt", "plain.txt"}},
        {nullptr, 0, KindFilter::RememberedDeletes, "/", {"gone.txt"}},
        {"/docs", 2, KindFilter::ChangedDeleted, "/", {"chg.txt"}},
        {nullptr, 1, KindFilter::Conflicts, "/", {"notes.txt"}},
    };
    for (const auto& s : steps) {
        if (s.select) {
            f.form.TreeV->setCurrentIndex(
                f.form.TreeModel()->IndexOf(f.form.Tree().Find(s.select)));
            f.form.TreeVChange();
        }
        f.form.btnKinds[static_cast<std::size_t>(s.button)]->click();
        EXPECT_EQ(f.form.Filter(), s.filter) << s.button;
        EXPECT_EQ(f.Folder(), s.folder) << s.button;
        EXPECT_EQ(f.Names(), s.rows) << s.button;
        for (int i = 0; i < kKindFilters; ++i)
            EXPECT_EQ(f.form.btnKinds[static_cast<std::size_t>(i)]->isChecked(),
                      static_cast<int>(s.filter) == i + 1);
    }
}

// A remembered row shows its kind's picture and the reason in words.
TEST(RememberPreview, RowsShowTheirKindAndReason) {
    RememberedPlan f;
    const struct {
        const char* name;
        const char* image;
        const char* reason;
    } rows[] = {
        {"gone.txt", "REMDEL", "deleted in the host since "},
        {"chg.txt", "CHGDEL", "changed in the host, deleted in the mirror since "},
        {"notes.txt", "CONFLICT", "changed on both sides since "},
    };
    for (const auto& r : rows) {
        ASSERT_GE(f.RowOf(r.name), 0) << r.name;
        EXPECT_EQ(f.Cell(r.name, 0, TPreviewGridModel::kKindImageRole).toString(),
                  QLatin1String(r.image));
        const QString shown = f.Cell(r.name, 0, Qt::DisplayRole).toString();
        EXPECT_TRUE(shown.startsWith(QLatin1String(r.name) + QStringLiteral("  (") +
                                     QLatin1String(r.reason)))
            << shown.toStdString();
    }
    // Without memory: no kind buttons, no notes.
    RememberedPlan plain(false);
    EXPECT_FALSE(plain.form.btnKinds[0]->isVisible());
    EXPECT_EQ(plain.Cell("gone.txt", 0, Qt::DisplayRole).toString(), QStringLiteral("gone.txt"));
}

// The same pictures and reasons on a plan the engine made: a two-way task
// with memory, after a file was deleted in the host and another edited on
// both sides. DUPLORA_SCREENSHOT_REMEMBER saves the window
// (scripts/screenshot-preview.sh).
TEST(RememberPreview, APlanOfARealRunShowsRememberedRows) {
    SetLanguage(Language::English);
    TTreeVForm::HideEqual = false;
    test::RunFixture f;
    f.run.Task = MakePresetRecord(TaskPreset::TwoWay, "");
    f.run.Task.set_host_path(f.host);
    f.run.Task.set_mirror_path(f.mirror);
    f.run.Start = RunStart::Console;
    f.run.MemoryFolder = f.tmp.sub("state");
    const std::vector<test::TreeFile> files = {{"report.odt", std::string(40000, 'r')},
                                               {"notes.txt", "first"},
                                               {"old draft.odt", std::string(90000, 'p')},
                                               {"photos/beach.jpg", std::string(70000, 'n')}};
    f.tmp.build(f.host, files);
    f.tmp.build(f.mirror, files);
    ASSERT_EQ(f.Run(), RunOutcome::NothingToDo) << f.Text();
    std::filesystem::remove(f.host + "/old draft.odt");
    f.tmp.build(f.host, {{"notes.txt", "edited on the laptop", test::kT0 + 600}});
    f.tmp.build(f.mirror, {{"notes.txt", "edited on the disk", test::kT0 + 900}});
    std::string error;
    ASSERT_TRUE(BuildPlan(f.run, error)) << error;
    SyncPlan& plan = f.run.Plan;
    ASSERT_EQ(plan.RememberedCount[static_cast<int>(Remembered::DeletedInHost)], 1);
    ASSERT_EQ(plan.RememberedCount[static_cast<int>(Remembered::ChangedOnBoth)], 1);

    TTreeVForm form;
    // Shown as a user's folders would be; the form only displays them.
    form.SetPlan(&plan, "/home/ana/Documents", "/media/ana/USB/Documents", SyncAction::Ignore);
    form.resize(900, 420);
    form.show();
    QElapsedTimer t;
    t.start();
    while (!form.TreeBuilt() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    form.btnKinds[1]->click();
    EXPECT_EQ(form.Filter(), KindFilter::Conflicts);
    form.btnKinds[1]->click();
    if (const char* path = std::getenv("DUPLORA_SCREENSHOT_REMEMBER")) {
        form.TreeV->expandAll();
        QCoreApplication::processEvents();
        EXPECT_TRUE(form.grab().save(QString::fromLocal8Bit(path)));
    }
    form.btnKinds[0]->click();
    ASSERT_EQ(form.Rows().size(), 1u);
    EXPECT_EQ(RowName(form.Rows()[0]), "old draft.odt");
}

// The main window's last-run text names the conflicts only when a run met
// some.
TEST(RememberPreview, LastRunTextCountsConflicts) {
    SetLanguage(Language::English);
    TcltForm::LastRun last;
    EXPECT_FALSE(TcltForm::LastRunText(last).contains(QStringLiteral("Conflicts")));
    last.Report.ConflictsKept = 1;
    last.Report.ConflictsSkipped = 3;
    EXPECT_TRUE(TcltForm::LastRunText(last).endsWith(
        QStringLiteral("\nConflicts: 1 kept both, 3 left alone")));
}

} // namespace

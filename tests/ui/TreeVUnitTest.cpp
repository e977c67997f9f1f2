// The preview window on real plans: built by the engine's analysis from
// temporary folders, changed through the window's own mouse and keyboard
// handling, then carried out by the engine.
#include "ui/TreeVUnit.h"
#include "WindowTestSupport.h"
#include "sync/TreeFixture.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <gtest/gtest.h>

#include <ctime>
#include <functional>

using namespace duplora;
using namespace duplora::test;

namespace {

constexpr std::time_t kNewer = kT0 + 3600 * 24;

void WaitBuilt(TTreeVForm& form) {
    QElapsedTimer t;
    t.start();
    while (!form.TreeBuilt() && form.isVisible() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

int RowOf(const TTreeVForm& form, std::string_view name) {
    const auto& rows = form.Rows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (RowName(rows[i]) == name)
            return static_cast<int>(i);
    return -1;
}

QString Cell(const TTreeVForm& form, int row, int column, int role = Qt::DisplayRole) {
    return form.GridModel()->data(form.GridModel()->index(row, column), role).toString();
}

QColor Colour(const TTreeVForm& form, int row) {
    return form.GridModel()
        ->data(form.GridModel()->index(row, 0), Qt::ForegroundRole)
        .value<QColor>();
}

void ClickTick(TTreeVForm& form, int row) {
    const QRect r = form.ListV->visualRect(form.GridModel()->index(row, 0));
    QTest::mouseClick(form.ListV->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(r.left() + 5, r.center().y()));
}

void ClickOp(TTreeVForm& form, int row) {
    const QRect r = form.ListV->visualRect(form.GridModel()->index(row, 3));
    QTest::mouseClick(form.ListV->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
}

void SelectFolder(TTreeVForm& form, std::string_view path) {
    const int node = form.Tree().Find(path);
    ASSERT_GE(node, 0) << path;
    form.TreeV->setCurrentIndex(form.TreeModel()->IndexOf(node));
    form.TreeVChange(); // what the 50 ms timer would do
}

// A one-way task over real folders:
//   same.txt        equal on both sides              -> nothing
//   new.txt         host only                        -> copy to the mirror
//   docs/old.txt    newer in the host                -> copy to the mirror
//   docs/skip.txt   host only                        -> copy, switched off in the window
//   docs/gone.txt   host only                        -> copy, turned into a delete
//   extra.txt       mirror only (action Ignore)      -> nothing
//   emptydir/       empty, host only
struct PreviewRun : RunFixture {
    PreviewRun() {
        SetLanguage(Language::English);
        TTreeVForm::HideEqual = false;
        tmp.build(host, {{"same.txt", "s"},
                         {"new.txt", "new"},
                         {"docs/old.txt", "fresh", kNewer},
                         {"docs/skip.txt", "skip"},
                         {"docs/gone.txt", "gone"},
                         {"emptydir/"}});
        tmp.build(mirror, {{"same.txt", "s"}, {"docs/old.txt", "stale"}, {"extra.txt", "x"}});
        OneWay();
        run.Task.set_empty_folder_action(SyncAction::HostToMirror);
    }
    // Runs the task; `interact` is called once the window shows its tree,
    // then Sync is pressed (Cancel if a check failed).
    RunOutcome RunWith(TTreeVForm& form, const std::function<void(TTreeVForm&)>& interact) {
        ui.onPreview = [&](SyncPlan& plan) {
            QTimer::singleShot(0, &form, [&] {
                WaitBuilt(form);
                interact(form);
                if (form.isVisible())
                    (::testing::Test::HasFailure() ? form.btnCancel : form.btnSync)->click();
            });
            return form.Preview(plan, run);
        };
        return Run();
    }
};

} // namespace

TEST(TreeVForm, ExecutionHonoursWhatThePreviewLeft) {
    PreviewRun f;
    TTreeVForm form;
    const RunOutcome outcome = f.RunWith(form, [&](TTreeVForm& w) {
        // The tree: root labelled with both roots, one node per folder.
        ASSERT_TRUE(w.TreeBuilt());
        EXPECT_EQ(w.TreeModel()->data(w.TreeModel()->IndexOf(0), Qt::DisplayRole).toString(),
                  QString::fromStdString(f.run.HostRoot + " <=> " + f.run.MirrorRoot));
        const int docs = w.Tree().Find("/docs");
        const int empty = w.Tree().Find("/emptydir");
        ASSERT_GE(docs, 0);
        ASSERT_GE(empty, 0);
        EXPECT_EQ(w.Tree().Nodes[static_cast<std::size_t>(docs)].Flags, fnToMirror);
        EXPECT_EQ(w.Tree().Nodes[static_cast<std::size_t>(empty)].Flags, fnOnlyHost | fnHostEmpty);
        EXPECT_TRUE(w.TreeV->isExpanded(w.TreeModel()->IndexOf(0)));
        EXPECT_EQ(w.Panels[0]->text(), "Transmit File: 4(16 bytes)");
        EXPECT_EQ(w.Panels[3]->text(), "Sync Empty Folder: 1");

        // The root lists its own files, host and mirror paired by name.
        EXPECT_EQ(w.Rows().size(), 3u);
        const int same = RowOf(w, "same.txt");
        const int extra = RowOf(w, "extra.txt");
        ASSERT_GE(same, 0);
        ASSERT_GE(extra, 0);
        EXPECT_EQ(Colour(w, same), QColor(64, 64, 64));
        EXPECT_EQ(Cell(w, same, 0, TPreviewGridModel::kImageRole), "");
        EXPECT_EQ(Cell(w, same, 1), "1");
        EXPECT_EQ(Cell(w, same, 5), "1");
        EXPECT_EQ(Cell(w, extra, 1), ""); // no host file
        EXPECT_EQ(Cell(w, extra, 2), "");
        std::tm tm{};
        localtime_r(&kT0, &tm);
        char expected[32];
        std::strftime(expected, sizeof expected, "%y-%m-%d %H:%M:%S", &tm);
        EXPECT_EQ(Cell(w, extra, 4), QString::fromLatin1(expected));

        SelectFolder(w, "/docs");
        ASSERT_EQ(w.Rows().size(), 3u);
        const int gone = RowOf(w, "gone.txt");
        const int old = RowOf(w, "old.txt");
        const int skip = RowOf(w, "skip.txt");
        EXPECT_EQ(gone, 0); // ordered by name
        EXPECT_EQ(skip, 2);
        EXPECT_EQ(Colour(w, old), QColor(0, 0, 255));
        EXPECT_EQ(Cell(w, old, 3, TPreviewGridModel::kImageRole), "RARROW4");
        EXPECT_EQ(Cell(w, old, 0, TPreviewGridModel::kImageRole), "CHECK4");
        EXPECT_EQ(Cell(w, gone, 4), ""); // host only: mirror columns empty
        EXPECT_EQ(Cell(w, gone, 5), "");

        ClickTick(w, skip);
        EXPECT_EQ(RowOp(w.Rows()[static_cast<std::size_t>(skip)]), opToMirrorOff);
        EXPECT_EQ(Cell(w, skip, 0, TPreviewGridModel::kImageRole), "UNCHECK4");
        EXPECT_EQ(w.Panels[0]->text(), "Transmit File: 3(12 bytes)");

        ClickOp(w, gone);
        EXPECT_EQ(RowOp(w.Rows()[static_cast<std::size_t>(gone)]), opDelete);
        EXPECT_EQ(Colour(w, gone), QColor(255, 0, 0));
        EXPECT_EQ(Cell(w, gone, 3, TPreviewGridModel::kImageRole), "DEL4");
        EXPECT_EQ(w.Panels[0]->text(), "Transmit File: 2(8 bytes)");
        EXPECT_EQ(w.Panels[1]->text(), "Del Host File: 1");
        EXPECT_EQ(w.LastDirectionRow, gone);
    });
    EXPECT_EQ(outcome, RunOutcome::Finished);
    EXPECT_EQ(form.Tag, 1);

    const auto h = ReadTree(f.host);
    const auto m = ReadTree(f.mirror);
    EXPECT_EQ(h.count("docs/gone.txt"), 0u); // deleted from the host instead of copied
    EXPECT_EQ(m.count("docs/gone.txt"), 0u);
    EXPECT_EQ(m.count("docs/skip.txt"), 0u); // switched off
    EXPECT_EQ(h.count("docs/skip.txt"), 1u);
    EXPECT_EQ(m.at("docs/old.txt"), "fresh");
    EXPECT_EQ(m.at("new.txt"), "new");
    EXPECT_EQ(m.count("emptydir/"), 1u);
    EXPECT_EQ(f.run.Plan.CopiedToMirror, 2);
    EXPECT_EQ(f.run.Plan.DeletedInHost, 1);
}

TEST(TreeVForm, CloseBoxAndCancelDeclineTheRun) {
    for (bool useCancel : {false, true}) {
        PreviewRun f;
        TTreeVForm form;
        const auto before = ReadTree(f.mirror);
        const RunOutcome outcome = f.RunWith(form, [&](TTreeVForm& w) {
            if (useCancel)
                w.btnCancel->click();
            else
                w.close();
        });
        EXPECT_EQ(outcome, RunOutcome::Declined);
        EXPECT_EQ(form.Tag, useCancel ? -1 : 0);
        EXPECT_EQ(ReadTree(f.mirror), before);
        EXPECT_NE(f.Text().find(Msg(63)), std::string::npos);
    }
}

TEST(TreeVForm, CyclingKeysMenuAndFilterKeepTheStatusBarTrue) {
    PreviewRun f;
    // Make old.txt a copy to the host, so its row can go through all three.
    f.run.Task.set_newer_in_host_action(SyncAction::MirrorToHost);
    TTreeVForm form;
    f.RunWith(form, [&](TTreeVForm& w) {
        SelectFolder(w, "/docs");
        SyncPlan& plan = f.run.Plan;
        const int old = RowOf(w, "old.txt");
        ASSERT_GE(old, 0);
        EXPECT_EQ(Colour(w, old), QColor(255, 0, 255));
        EXPECT_EQ(plan.TotalBytes, 5 + 4 + 4 + 3); // old's source is the mirror's 5 bytes
        ClickOp(w, old);                           // 3 -> 1, both sides
        EXPECT_EQ(plan.HostDeleteCount, 1);
        EXPECT_EQ(plan.MirrorDeleteCount, 1);
        EXPECT_EQ(w.Panels[2]->text(), "Del Mirror File: 1");
        ClickOp(w, old); // 1 -> 2
        EXPECT_EQ(RowOp(w.Rows()[static_cast<std::size_t>(old)]), opToMirror);
        EXPECT_EQ(plan.MirrorDeleteCount, 0);
        EXPECT_EQ(plan.TotalBytes, 5 + 4 + 4 + 3); // "fresh" is 5 bytes as well
        ClickOp(w, old);                           // 2 -> 3
        EXPECT_EQ(RowOp(w.Rows()[static_cast<std::size_t>(old)]), opToHost);

        // The space key switches the current row.
        w.ListV->setFocus();
        w.ListV->setCurrentIndex(w.GridModel()->index(old, 1));
        QTest::keyClick(w.ListV, Qt::Key_Space);
        EXPECT_EQ(RowOp(w.Rows()[static_cast<std::size_t>(old)]), opToHostOff);
        EXPECT_EQ(plan.ToHostCount, 0);

        // A press outside the tick box and the icon only selects.
        const QRect nameCell = w.ListV->visualRect(w.GridModel()->index(0, 0));
        QTest::mouseClick(w.ListV->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(nameCell.left() + 60, nameCell.center().y()));
        EXPECT_EQ(w.ListV->currentIndex().row(), 0);
        EXPECT_EQ(w.LastDirectionRow, -1);
        EXPECT_EQ(RowOp(w.Rows()[0]), opToMirror);

        // The root: hide rows without an operation, then switch off all listed.
        SelectFolder(w, "/");
        w.btnHideEqu->click();
        EXPECT_TRUE(TTreeVForm::HideEqual);
        EXPECT_EQ(w.Rows().size(), 1u); // new.txt; same.txt and extra.txt have nothing to do
        w.pmClear->trigger();
        EXPECT_EQ(RowOp(w.Rows()[0]), opToMirrorOff);
        w.btnHideEqu->click(); // switched-off rows stay listed
        EXPECT_EQ(w.Rows().size(), 1u);
        w.pmAll->trigger();
        EXPECT_EQ(RowOp(w.Rows()[0]), opToMirror);

        // The status bar agrees with a recount of the plan.
        const std::string panel0 = StatusPanelText(plan, 0);
        const int toMirror = plan.ToMirrorCount;
        const std::int64_t bytes = plan.TotalBytes;
        plan.Count(f.run.Task.empty_folder_action());
        EXPECT_EQ(plan.ToMirrorCount, toMirror);
        EXPECT_EQ(plan.TotalBytes, bytes);
        EXPECT_EQ(w.Panels[0]->text().toStdString(), panel0);
        w.btnCancel->click();
    });

    // The filter is kept for the next window.
    TTreeVForm next;
    EXPECT_TRUE(next.btnHideEqu->isChecked());
    EXPECT_FALSE(next.btnShowAll->isChecked());
    next.btnShowAll->click();
    EXPECT_FALSE(TTreeVForm::HideEqual);
}

TEST(TreeVForm, SelectionChangeListsTheFolderAfterAShortDelay) {
    PreviewRun f;
    TTreeVForm form;
    f.RunWith(form, [&](TTreeVForm& w) {
        w.TreeV->setCurrentIndex(w.TreeModel()->IndexOf(w.Tree().Find("/docs")));
        EXPECT_EQ(RowOf(w, "old.txt"), -1); // not yet
        QElapsedTimer t;
        t.start();
        while (RowOf(w, "old.txt") < 0 && t.elapsed() < 2000)
            QTest::qWait(10);
        EXPECT_GE(t.elapsed(), 40);
        EXPECT_GE(RowOf(w, "old.txt"), 0);

        // The expand button of a node with children opens and closes it.
        const QModelIndex root = w.TreeModel()->IndexOf(0);
        const QPoint button = w.TreeV->ExpandButtonRect(root).center();
        QTest::mouseClick(w.TreeV->viewport(), Qt::LeftButton, Qt::NoModifier, button);
        EXPECT_FALSE(w.TreeV->isExpanded(root));
        QTest::mouseClick(w.TreeV->viewport(), Qt::LeftButton, Qt::NoModifier, button);
        EXPECT_TRUE(w.TreeV->isExpanded(root));
        // Painting every part (tree, grid, header) at both scales.
        EXPECT_FALSE(w.grab().isNull());
        w.btnCancel->click();
    });
}

TEST(TreeVForm, AButtonPressedWhileBuildingStopsTheBuild) {
    SetLanguage(Language::English);
    SyncPlan plan;
    for (int i = 0; i < 400; ++i) {
        FolderItem item;
        item.Path = plan.StoreHostPath("/d" + std::to_string(i));
        item.Total = 1;
        plan.HostFolders.push_back(item);
        TFileEntry e;
        e.RelPath = plan.StoreHostPath("/d" + std::to_string(i) + "/f");
        e.Size = 3;
        e.Op = opToMirror;
        plan.HostFiles.push_back(e);
    }
    plan.Count(SyncAction::Ignore);
    TTreeVForm form;
    form.SetPlan(&plan, "/h", "/m", SyncAction::Ignore);
    form.Tag = 0;
    form.show();
    // Queued after the build event that showing posted: it arrives while the
    // build lets pending events through.
    QMetaObject::invokeMethod(form.btnSync, "click", Qt::QueuedConnection);
    QElapsedTimer t;
    t.start();
    while (form.isVisible() && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.Tag, 1);
    EXPECT_FALSE(form.TreeBuilt());
    EXPECT_TRUE(form.Tree().Nodes.empty()); // cleared once the build stopped
    EXPECT_EQ(plan.ToMirrorCount, 400);     // the whole plan runs as analysed
}

TEST(TreeVForm, SizeLimitsTextsAndPictures) {
    SetLanguage(Language::English);
    TTreeVForm form;
    form.show();
    form.resize(229, 300);
    EXPECT_EQ(form.width(), 230);
    form.resize(400, 119);
    EXPECT_EQ(form.height(), 120);
    form.resize(230, 120);
    EXPECT_EQ(form.size(), QSize(230, 120));
    form.close();

    EXPECT_EQ(form.windowTitle(), "Sync Management");
    EXPECT_EQ(form.Label1->text(), "Folders");
    EXPECT_EQ(form.btnSync->text(), "&Sync Now");
    EXPECT_EQ(form.pmClear->text(), "&Clear Selection");
    EXPECT_EQ(form.GridModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
              "Filename");
    EXPECT_EQ(form.GridModel()->headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(),
              "Size(Mirror)");

    struct Pic {
        const char* name;
        int w, h;
    };
    for (const Pic& p : {Pic{"UNCHECK4", 16, 16},
                         {"CHECK4", 16, 16},
                         {"EQU4", 16, 16},
                         {"DEL4", 16, 16},
                         {"RARROW4", 16, 16},
                         {"LARROW4", 16, 16},
                         {"TFOLDER", 16, 16},
                         {"TFOLDERO", 16, 16},
                         {"TFOLDERE", 16, 16},
                         {"TFOLDERNO", 16, 16},
                         {"TDELETE", 7, 16},
                         {"CLEAR4", 9, 9},
                         {"TFOLDER2RIGHT", 16, 16},
                         {"TFOLDER2LEFT", 16, 16},
                         {"LBTNA4", 9, 9},
                         {"LBTNB4", 9, 9}}) {
        for (qreal dpr : {1.0, 2.0}) {
            const QPixmap pm = PreviewImage(QString::fromLatin1(p.name), dpr);
            ASSERT_FALSE(pm.isNull()) << p.name;
            EXPECT_EQ(pm.size(), QSize(p.w, p.h) * dpr) << p.name;
            EXPECT_EQ(pm.deviceIndependentSize().toSize(), QSize(p.w, p.h)) << p.name;
        }
    }
    EXPECT_TRUE(PreviewImage(QStringLiteral("NOSUCH")).isNull());
}

// Pixels of a colour family inside a rectangle of a painted widget.
int CountPixels(const QImage& img, const QRect& r, const std::function<bool(QColor)>& match) {
    int n = 0;
    const QRect inside = r.intersected(img.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            n += match(img.pixelColor(x, y)) ? 1 : 0;
    return n;
}
bool Reddish(QColor c) {
    return c.red() > 180 && c.green() < 90 && c.blue() < 90;
}
bool Bluish(QColor c) {
    return c.blue() > 180 && c.red() < 110 && c.green() < 130;
}

TEST(TreeVForm, NodesAndRowsArePaintedWithTheirPictures) {
    PreviewRun f;
    f.run.Task.set_delete_masks_enabled(true);
    f.run.Task.set_delete_masks("*.tmp");
    f.tmp.build(f.host, {{"docs/~lock.tmp", "l"}});
    TTreeVForm form;
    f.RunWith(form, [&](TTreeVForm& w) {
        const int docs = w.Tree().Find("/docs");
        ASSERT_GE(docs, 0);
        EXPECT_TRUE(w.Tree().Nodes[static_cast<std::size_t>(docs)].Flags & fnDelete);
        SelectFolder(w, "/");
        QCoreApplication::processEvents();
        const QImage tree = w.TreeV->viewport()->grab().toImage();
        const QRect docsRow = w.TreeV->visualRect(w.TreeModel()->IndexOf(docs));
        const int L = docsRow.left() + TFolderTreeView::kIndent;
        // The delete mark between the two folders (at L-26, 7 wide), and a
        // host folder picture that is not the plain background.
        EXPECT_GT(CountPixels(tree, QRect(L - 26, docsRow.top(), 7, 16), Reddish), 4);
        const QColor base = w.TreeV->palette().color(QPalette::Base);
        EXPECT_GT(CountPixels(tree, QRect(L - 42, docsRow.top(), 16, 16),
                              [&](QColor c) { return c != base; }),
                  40);
        // A node without deletes has no red between its folders.
        const QRect rootRow = w.TreeV->visualRect(w.TreeModel()->IndexOf(0));
        EXPECT_EQ(CountPixels(tree, QRect(rootRow.left() + 42 - 26, rootRow.top(), 7, 16), Reddish),
                  0);

        // The grid: the copy's arrow in column 3 and its text in blue.
        const int row = RowOf(w, "new.txt");
        ASSERT_GE(row, 0);
        w.ListV->clearSelection();
        const QImage grid = w.ListV->viewport()->grab().toImage();
        EXPECT_GT(CountPixels(grid, w.ListV->visualRect(w.GridModel()->index(row, 3)), Bluish), 10);
        EXPECT_GT(CountPixels(grid, w.ListV->visualRect(w.GridModel()->index(row, 0)), Bluish), 5);
        const int same = RowOf(w, "same.txt");
        EXPECT_EQ(CountPixels(grid, w.ListV->visualRect(w.GridModel()->index(same, 3)), Bluish), 0);
        w.btnCancel->click();
    });
}

// With DUPLORA_SCREENSHOT set, saves the window on a real plan to that file
// (scripts/screenshot-preview.sh runs this under Xvfb); otherwise it only
// checks that the window paints.
TEST(TreeVForm, Screenshot) {
    PreviewRun f;
    f.tmp.build(f.host, {{"photos/2024/beach.jpg", std::string(300000, 'b')},
                         {"photos/2024/city.jpg", std::string(120000, 'c'), kNewer},
                         {"photos/2023/old.jpg", "o"},
                         {"music/song.ogg", std::string(4000000, 's')},
                         {"docs/report.doc", std::string(1536, 'r'), kNewer},
                         {"docs/notes.txt", "notes"},
                         {"docs/drafts/"}});
    f.tmp.build(f.mirror, {{"photos/2024/city.jpg", std::string(90000, 'c')},
                           {"photos/2023/old.jpg", "o"},
                           {"docs/report.doc", std::string(1000, 'r')},
                           {"docs/notes.txt", "notes"},
                           {"docs/todo.txt", "todo"},
                           {"archive/2019/a.zip", "zip"}});
    f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
    f.run.Task.set_delete_masks_enabled(true);
    f.run.Task.set_delete_masks("*.tmp");
    f.tmp.build(f.host, {{"docs/~lock.tmp", "l"}});
    TTreeVForm form;
    form.resize(900, 560);
    f.RunWith(form, [&](TTreeVForm& w) {
        SelectFolder(w, "/docs");
        const int todo = RowOf(w, "todo.txt");
        if (todo >= 0)
            ClickTick(w, todo);
        w.ListV->setCurrentIndex(w.GridModel()->index(RowOf(w, "report.doc"), 0));
        QCoreApplication::processEvents();
        QPixmap shot = w.grab();
        EXPECT_FALSE(shot.isNull());
        // The tip over the action of ~lock.tmp (host only, deleted by the
        // delete mask: the only copy), drawn where the pointer would show it.
        const int lock = RowOf(w, "~lock.tmp");
        ASSERT_GE(lock, 0);
        const QString tipText = Cell(w, lock, 3, Qt::ToolTipRole);
        EXPECT_EQ(tipText.toStdString(), "Delete from the host: the only copy");
        QLabel tip(tipText);
        tip.setPalette(QToolTip::palette());
        tip.setAutoFillBackground(true);
        tip.setFrameShape(QFrame::Box);
        tip.setMargin(3);
        tip.adjustSize();
        const QRect cell = w.ListV->visualRect(w.GridModel()->index(lock, 3));
        QPainter painter(&shot);
        QPoint at = w.ListV->viewport()->mapTo(&w, cell.center() + QPoint(6, 14));
        at.setX(std::min(at.x(), shot.width() / static_cast<int>(shot.devicePixelRatio()) -
                                     tip.width() - 4));
        painter.drawPixmap(at, tip.grab());
        painter.end();
        if (const char* path = std::getenv("DUPLORA_SCREENSHOT")) {
            EXPECT_TRUE(shot.save(QString::fromLocal8Bit(path)));
        }
        w.btnCancel->click();
    });
}

// A renamed folder: each move is one row at both ends, with its picture and
// the other path; the status bar counts it, and the tick box turns it into
// the copy and the delete. DUPLORA_SCREENSHOT_MOVE saves the picture for the
// README (scripts/screenshot-preview.sh).
TEST(TreeVForm, MovesShowBothPathsAndFallBackWhenUnticked) {
    PreviewRun f;
    const std::string photo(200000, 'p');
    const std::string other(150000, 'q');
    f.tmp.build(f.host,
                {{"photos 2024/beach.jpg", photo}, {"photos 2024/city.jpg", other, kNewer}});
    f.tmp.build(f.mirror, {{"photos/beach.jpg", photo}, {"photos/city.jpg", other, kNewer}});
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_detect_moves(true);
    TTreeVForm form;
    form.resize(900, 560);
    f.RunWith(form, [&](TTreeVForm& w) {
        EXPECT_EQ(f.run.Plan.MoveCount, 2);
        EXPECT_TRUE(w.Tree().Nodes[static_cast<std::size_t>(w.Tree().Find("/photos"))].Flags &
                    fnMove);
        SelectFolder(w, "/photos 2024");
        const int beach = RowOf(w, "beach.jpg");
        ASSERT_GE(beach, 0);
        EXPECT_EQ(w.GridModel()->data(w.GridModel()->index(beach, 0), Qt::DisplayRole).toString(),
                  QStringLiteral("beach.jpg  (moved from /photos/beach.jpg)"));
        EXPECT_EQ(
            w.GridModel()->data(w.GridModel()->index(beach, 3), TPreviewGridModel::kImageRole),
            QStringLiteral("MOVE4"));
        EXPECT_TRUE(
            w.findChild<QLabel*>(QStringLiteral("Panel4"))->text().contains("Move File: 2"));
        w.ListV->setCurrentIndex(w.GridModel()->index(beach, 0));
        QCoreApplication::processEvents();
        if (const char* path = std::getenv("DUPLORA_SCREENSHOT_MOVE")) {
            EXPECT_TRUE(w.grab().save(QString::fromLocal8Bit(path)));
        }
        const int copies = f.run.Plan.ToMirrorCount;
        const int deletes = f.run.Plan.MirrorDeleteCount;
        ClickTick(w, RowOf(w, "city.jpg"));
        EXPECT_EQ(f.run.Plan.MoveCount, 1);
        EXPECT_EQ(f.run.Plan.ToMirrorCount, copies + 1);
        EXPECT_EQ(f.run.Plan.MirrorDeleteCount, deletes + 1);
    });
    // The move ran as a rename, the unticked one as a copy and a delete.
    EXPECT_EQ(f.run.Plan.MovedCount, 1);
    EXPECT_EQ(ReadTree(f.mirror).at("photos 2024/beach.jpg"), photo);
    EXPECT_EQ(ReadTree(f.mirror).at("photos 2024/city.jpg"), other);
    EXPECT_EQ(ReadTree(f.mirror).count("photos/city.jpg"), 0u);
}

// The name column, which holds the "moved from ..." notes, takes the grid's
// free width (a wider window widens the grid as much as the tree) and gives
// it back.
TEST(TreeVForm, TheNameColumnGrowsWithTheWindow) {
    PreviewRun f;
    f.tmp.build(f.host, {{"photos/a long name of a photo.jpg", "p"}});
    f.OneWay();
    TTreeVForm form;
    form.resize(600, 500);
    f.RunWith(form, [&](TTreeVForm& w) {
        SelectFolder(w, "/photos");
        const QList<int> sizes = w.Splitter1->sizes();
        const int narrow = w.ListV->columnWidth(0);
        // The grid's share of a wider window: here the tree gives it what it
        // can spare above its least width.
        w.Splitter1->setSizes({sizes[0] - 120, sizes[1] + 120});
        QCoreApplication::processEvents();
        EXPECT_GT(w.ListV->columnWidth(0), narrow + 40);
        w.Splitter1->setSizes(sizes);
        QCoreApplication::processEvents();
        EXPECT_EQ(w.ListV->columnWidth(0), narrow);
    });
}

// The share of each side the run deletes or replaces: recounted on every
// switch, red above the task's limit, and never a reason to stop a window
// run. DUPLORA_SCREENSHOT_GUARD saves the picture for the README.
// Every action cell says in words what will happen; turning the copy of a
// host-only file into a delete reads "the only copy" and looks apart.
TEST(TreeVForm, ActionCellsSayWhatHappensAndMarkTheOnlyCopy) {
    PreviewRun f;
    TTreeVForm form;
    form.resize(1100, 560);
    f.RunWith(form, [&](TTreeVForm& w) {
        SelectFolder(w, "/");
        const int row = RowOf(w, "new.txt");
        ASSERT_GE(row, 0);
        const struct {
            const char* tip;
            bool marked;
        } steps[] = {
            {"Copy to the mirror", false},
            {"Delete from the host: the only copy", true},
            {"Copy to the mirror", false},
        };
        for (const auto& step : steps) {
            EXPECT_EQ(Cell(w, row, 3, Qt::ToolTipRole).toStdString(), step.tip);
            const QVariant font = w.GridModel()->data(w.GridModel()->index(row, 3), Qt::FontRole);
            EXPECT_EQ(font.isValid() && font.value<QFont>().bold(), step.marked) << step.tip;
            ClickOp(w, row);
        }
        EXPECT_EQ(Cell(w, RowOf(w, "same.txt"), 3, Qt::ToolTipRole).toStdString(),
                  "Leave as it is");

        // The context menu's explicit choices for the selected row; a copy
        // to the host is not offered by a host-only file and changes nothing.
        ASSERT_EQ(w.PopupMenu1->actions().size(), 7);
        w.ListV->selectRow(row);
        const struct {
            int choice;
            const char* tip;
        } choices[] = {
            {2, "Delete from the host: the only copy"},
            {1, "Delete from the host: the only copy"},
            {3, "Leave as it is"},
            {0, "Copy to the mirror"},
        };
        for (const auto& c : choices) {
            w.pmChoice[static_cast<std::size_t>(c.choice)]->trigger();
            EXPECT_EQ(Cell(w, row, 3, Qt::ToolTipRole).toStdString(), c.tip) << c.choice;
        }
        w.btnCancel->click();
    });
}

TEST(TreeVForm, DeleteGuardPanelsFollowTheSwitchesAndTurnRedAboveTheLimit) {
    EXPECT_EQ(GroupThousands(0), "0");
    EXPECT_EQ(GroupThousands(999), "999");
    EXPECT_EQ(GroupThousands(1204), "1,204");
    EXPECT_EQ(GroupThousands(1234567), "1,234,567");

    PreviewRun f;
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete); // extra.txt goes
    f.run.Task.set_delete_limit(30);
    TTreeVForm form;
    form.resize(1100, 560);
    duplora::testing::BoxScript boxes;
    const QColor red(255, 0, 0);
    auto colour = [](QLabel* panel) { return panel->palette().color(QPalette::WindowText); };
    const RunOutcome outcome = f.RunWith(form, [&](TTreeVForm& w) {
        QLabel* hostPanel = w.findChild<QLabel*>(QStringLiteral("Panel5"));
        QLabel* mirrorPanel = w.findChild<QLabel*>(QStringLiteral("Panel6"));
        ASSERT_TRUE(hostPanel && mirrorPanel);
        struct Step {
            const char* folder; // then the file whose tick box is clicked (null: none)
            const char* file;
            const char* mirrorText;
            bool mirrorRed;
        };
        const Step steps[] = {
            // docs/old.txt replaced and extra.txt deleted: 2 of 3 is above 30 %.
            {"/", nullptr, "Mirror: 2 of 3 files deleted (67%)", true},
            {"/docs", "old.txt", "Mirror: 1 of 3 files deleted (33%)", true},
            {"/", "extra.txt", "Mirror: 0 of 3 files deleted (0%)", false},
            {"/", "extra.txt", "Mirror: 1 of 3 files deleted (33%)", true},
        };
        for (const Step& s : steps) {
            SelectFolder(w, s.folder);
            if (s.file)
                ClickTick(w, RowOf(w, s.file));
            EXPECT_EQ(mirrorPanel->text().toStdString(), s.mirrorText);
            EXPECT_EQ(colour(mirrorPanel) == red, s.mirrorRed) << s.mirrorText;
            EXPECT_EQ(hostPanel->text().toStdString(), "Host: 0 of 5 files deleted (0%)");
            EXPECT_NE(colour(hostPanel), red);
        }
        QCoreApplication::processEvents();
        if (const char* path = std::getenv("DUPLORA_SCREENSHOT_GUARD")) {
            EXPECT_TRUE(w.grab().save(QString::fromLocal8Bit(path)));
        }
        // In a window as narrow as a small screen allows, no panel is drawn
        // over another.
        const QSize wide = w.size();
        w.resize(760, w.height());
        QCoreApplication::processEvents();
        std::vector<QRect> rects;
        for (int i = 0; i < 7; ++i) {
            auto* panel = w.findChild<QLabel*>(QStringLiteral("Panel%1").arg(i));
            if (panel && panel->isVisible())
                rects.push_back(QRect(panel->mapTo(&w, QPoint(0, 0)), panel->size()));
        }
        for (std::size_t i = 0; i < rects.size(); ++i)
            for (std::size_t j = i + 1; j < rects.size(); ++j)
                EXPECT_FALSE(rects[i].intersects(rects[j])) << i << " " << j;
        w.resize(wide);
        // Over the limit Sync Now asks with the numbers; No stays in the
        // preview, the plan as it was.
        boxes.answers = {false};
        w.btnSync->click();
        ASSERT_EQ(boxes.seen.size(), 1u);
        EXPECT_EQ(boxes.seen[0].kind, BoxKind::YesNo);
        EXPECT_EQ(boxes.seen[0].caption, Msg(72));
        EXPECT_EQ(boxes.seen[0].text,
                  "Over the delete limit: the run would delete or replace 0 of 5 files of the "
                  "host (0%) and 1 of 3 files of the mirror (33%); the task's limit is 30%. "
                  "Synchronize anyway?");
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(mirrorPanel->text().toStdString(), "Mirror: 1 of 3 files deleted (33%)");
        boxes.answers = {true}; // the fixture's Sync is answered Yes
    });
    EXPECT_EQ(boxes.seen.size(), 2u);
    EXPECT_EQ(outcome, RunOutcome::Finished) << "the user saw the numbers and pressed Sync";
    EXPECT_FALSE(fs::exists(f.mirror + "/extra.txt"));
}

// The preview window on a big plan: 100,000 files in 5,000 folders on each
// side, one folder holding 10,000 of them. Measures the tree build alone,
// the window from showing to a usable tree, listing the big folder, and
// scrolling its grid page by page, and the status bar's rewrite per click. Runs offscreen unless a
// display is chosen.
//
//   build/bench/preview_bench            (prints one line per figure)

#include "sync/plan/DeleteGuard.h"
#include "sync/plan/PreviewOps.h"
#include "sync/plan/SyncPlan.h"
#include "tasks/TextTable.h"
#include "ui/TreeVUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <algorithm>
#include <vector>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

using namespace duplora;

namespace {

constexpr int kFolders = 5000;
constexpr int kFiles = 100000;
constexpr int kBigFolderFiles = 10000;

// Folders three levels deep (/aNN/bNN/cNN), listed after their contents as
// the scanner lists them; folder 0 ("/big") holds 10,000 files.
void FillPlan(SyncPlan& plan) {
    std::mt19937 rng(42);
    std::vector<std::string> folders;
    folders.emplace_back("/big");
    for (int a = 0; folders.size() < static_cast<std::size_t>(kFolders); ++a) {
        const std::string fa = "/a" + std::to_string(a);
        for (int b = 0; b < 10 && folders.size() < static_cast<std::size_t>(kFolders); ++b) {
            const std::string fb = fa + "/b" + std::to_string(b);
            for (int c = 0; c < 8 && folders.size() < static_cast<std::size_t>(kFolders) - 2; ++c)
                folders.push_back(fb + "/c" + std::to_string(c));
            folders.push_back(fb);
        }
        folders.push_back(fa);
    }
    folders.resize(kFolders);
    const TSyncOp ops[] = {opNone, opNone,     opNone,   opNone,  opNone,
                           opNone, opToMirror, opToHost, opDelete};
    for (int i = 0; i < kFiles; ++i) {
        const std::string& dir =
            i < kBigFolderFiles ? folders[0]
                                : folders[1 + static_cast<std::size_t>(i) % (folders.size() - 1)];
        const std::string path = dir + "/file" + std::to_string(i) + ".dat";
        TFileEntry h;
        h.RelPath = plan.StoreHostPath(path);
        h.Size = static_cast<std::int64_t>(rng() % 1000000);
        h.Age = 0x58A66000;
        h.Op = ops[rng() % 9];
        plan.HostFiles.push_back(h);
        TFileEntry m = h;
        m.RelPath = plan.StoreMirrorPath(path);
        m.Op = opNone;
        plan.MirrorFiles.Append(m);
    }
    plan.MirrorFiles.Sort();
    for (const std::string& f : folders) {
        plan.HostFolders.push_back({plan.StoreHostPath(f), 1});
        plan.MirrorFolders.push_back({plan.StoreMirrorPath(f), 1});
    }
    plan.Count(SyncAction::Ignore);
}

double Ms(QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    SetLanguage(Language::English);

    SyncPlan plan;
    QElapsedTimer t;
    t.start();
    FillPlan(plan);
    std::printf("plan: %d host files, %d mirror files, %zu+%zu folders (made in %.0f ms)\n",
                static_cast<int>(plan.HostFiles.size()), plan.MirrorFiles.Count(),
                plan.HostFolders.size(), plan.MirrorFolders.size(), Ms(t));

    for (int round = 0; round < 3; ++round) {
        TFolderTree tree;
        t.restart();
        tree.Build(plan, "/home/user/host", "/media/mirror", SyncAction::Ignore);
        std::printf("tree build (no window):            %8.1f ms, %zu nodes\n", Ms(t),
                    tree.Nodes.size());
    }

    TTreeVForm form;
    form.SetPlan(&plan, "/home/user/host", "/media/mirror", SyncAction::Ignore);
    t.restart();
    form.show();
    while (!form.TreeBuilt())
        QCoreApplication::processEvents();
    form.repaint();
    std::printf("window shown to tree built, painted: %8.1f ms\n", Ms(t));

    // What every tick or operation click costs the status bar: the counts
    // and the delete guard's recount of both sides (median of 21).
    for (const bool withPanels : {false, true}) {
        std::vector<double> times;
        for (int round = 0; round < 21; ++round) {
            t.restart();
            if (withPanels)
                form.WriteStatusBar();
            else
                (void)MeasureDeleteGuard(plan, 30);
            times.push_back(Ms(t));
        }
        std::nth_element(times.begin(), times.begin() + 10, times.end());
        std::printf("%s %8.2f ms (median of 21)\n",
                    withPanels ? "status bar rewrite per click:     "
                               : "delete guard recount alone:       ",
                    times[10]);
    }

    const int big = form.Tree().Find("/big");
    for (int round = 0; round < 3; ++round) {
        form.TreeV->setCurrentIndex(form.TreeModel()->IndexOf(big));
        t.restart();
        form.TreeVChange();
        form.ListV->viewport()->repaint();
        std::printf("list a folder of %zu files, painted: %8.1f ms\n", form.Rows().size(), Ms(t));
        form.TreeV->setCurrentIndex(form.TreeModel()->IndexOf(0));
        form.TreeVChange();
        form.TreeV->setCurrentIndex(form.TreeModel()->IndexOf(big));
    }
    form.TreeVChange();
    QCoreApplication::processEvents(); // lets the grid work out its scroll range

    QScrollBar* bar = form.ListV->verticalScrollBar();
    int pages = 0;
    t.restart();
    for (int v = 0; v <= bar->maximum() && pages < 400; v += bar->pageStep(), ++pages) {
        bar->setValue(v);
        form.ListV->viewport()->repaint();
    }
    std::printf("scroll the grid: %d pages, %.2f ms per page\n", pages,
                pages ? Ms(t) / pages : 0.0);

    form.Tag = -1;
    form.close();
    return 0;
}

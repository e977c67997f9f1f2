#include "ui/SyncForm.h"

#include "WindowTestSupport.h"
#include "sync/run/SyncRun.h"

#include <QLabel>

#include <thread>

namespace duplora {
namespace {

using testing::WriteFileText;
namespace fs = std::filesystem;

// The path and totals labels take the newest texts whenever the event loop
// turns, however many came in between, and the elided path keeps the full
// one in its tooltip.
TEST(SyncFormLabels, ShowTheNewestTextsWhenTheLoopTurns) {
    SetLanguage(Language::English);
    TSyncForm form;
    form.ApplyTexts();
    form.show();
    QCoreApplication::processEvents();

    const std::string longDir = "/home/user/" + std::string(300, 'd');
    for (int i = 0; i < 5000; ++i) {
        form.SetPath(longDir + "/file" + std::to_string(i) + ".txt");
        form.SetTotals("Total: " + std::to_string(i) + "K");
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(form.Label2->toolTip().toStdString(), longDir + "/file4999.txt");
    EXPECT_TRUE(form.Label2->text().endsWith("file4999.txt"));
    EXPECT_LT(form.Label2->text().size(), 200); // cut to the label's width
    EXPECT_EQ(form.Label4->text(), "Total: 4999K");

    // Pump() puts the texts in before it lets the paint through.
    std::this_thread::sleep_for(TSyncForm::kPumpInterval + std::chrono::milliseconds(5));
    form.SetPath("/tmp/last.bin");
    form.SetTotals("Total: done");
    form.Pump();
    EXPECT_EQ(form.Label2->text(), "/tmp/last.bin");
    EXPECT_EQ(form.Label4->text(), "Total: done");
}

// A real run: at its end the labels show the last file and the final totals,
// even though the run ends without another turn of the loop in between.
TEST(SyncFormLabels, EndOfARunShowsTheLastFileAndTotals) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SetLanguage(Language::English);
    const fs::path root = dir.path().toStdString();
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        WriteFileText(root / "host" / name, std::string(3000, 'x'));
    fs::create_directories(root / "mirror");
    TaskRecord r = TaskRecord::MakeNew("d");
    r.set_host_path((root / "host").string());
    r.set_mirror_path((root / "mirror").string());
    r.set_only_in_host_action(SyncAction::HostToMirror);
    r.set_speed_limit(0);
    ResultLines lines;
    RunContext run;
    run.TaskName = "Labels";
    run.Task = r;
    run.Lines = &lines;
    run.Start = RunStart::CommandLine; // quiet: no result window
    PrepareRoots(run);

    TSyncForm form;
    form.ApplyTexts();
    form.Execute(run);
    ASSERT_EQ(run.Outcome, RunOutcome::Finished);
    EXPECT_EQ(run.Plan.CopiedToMirror, 3);
    EXPECT_EQ(form.Label2->toolTip().toStdString(), run.Display.path);
    EXPECT_EQ(form.Label4->text().toStdString(), run.Display.totals);
    EXPECT_TRUE(form.Label4->text().startsWith("Total: "));
}

} // namespace
} // namespace duplora

// The schedule editor's picture for the documentation. Runs only when
// DUPLORA_SCREENSHOT_DIR names a folder (scripts/screenshots.sh).
#include "schedule/ScheduleRules.h"
#include "tasks/TextTable.h"
#include "ui/TaskU.h"

#include <QApplication>
#include <QListWidget>
#include <QPixmap>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace duplora {
namespace {

TEST(ScheduleScreenshots, Editor) {
    const char* target = std::getenv("DUPLORA_SCREENSHOT_DIR");
    if (!target || !*target)
        GTEST_SKIP() << "DUPLORA_SCREENSHOT_DIR not set";
    std::filesystem::create_directories(target);
    SetLanguage(Language::English);
    TaskList tasks;
    for (const char* name : {"Documents", "Photos", "Dotfiles"})
        tasks.append(name, TaskRecord::MakeNew("demo"));
    auto add = [&](const char* name, const char* task, ScheduleKind kind, int hour, int day,
                   int repeat) {
        ScheduleRecord r = schedule::MakeNew(name);
        schedule::set_task_name(r, task);
        schedule::set_kind(r, kind);
        schedule::set_run_time(r, EncodeDateTime({1899, 12, 30, hour, 0, 0, 0}));
        schedule::set_week_day(r, static_cast<std::uint8_t>(day));
        schedule::set_repeat_count(r, static_cast<std::int16_t>(repeat));
        schedule::ApplyNextRun(r, EncodeDateTime({2026, 12, 9, 9, 0, 0, 0}));
        tasks.schedules().push_back(r);
    };
    add("Evening", "Documents", ScheduleKind::EveryDay, 22, 1, -1);
    add("Saturday photos", "Photos", ScheduleKind::EveryWeek, 10, 7, -1);
    add("Hourly", "Dotfiles", ScheduleKind::Interval, 1, 1, 24);

    TfmTask form;
    form.ApplyTexts();
    form.SetTaskList(&tasks);
    form.show();
    form.ListBox1->setCurrentRow(1);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const QString path = QString::fromUtf8(target) + "/schedule-editor.png";
    EXPECT_TRUE(form.grab().save(path)) << path.toStdString();
}

} // namespace
} // namespace duplora

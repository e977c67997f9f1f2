// The schedule editor offscreen: every change lands in the record at once
// with the next-run rule applied, the name and time checks refuse bad input,
// and the window hosts the scheduler's check.
#include "ui/TaskU.h"
#include "WindowTestSupport.h"
#include "schedule/ScheduleRules.h"
#include "schedule/Scheduler.h"
#include "tasks/TaskRules.h"
#include "ui/SpinEdit.h"
#include "ui/WidgetTexts.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace duplora::testing {
namespace {

// Wednesday 2026-12-09 09:00:00.
struct FixedClock : Clock {
    double now = EncodeDateTime({2026, 12, 9, 9, 0, 0, 0});
    double Now() const override { return now; }
};

class ScheduleEditor : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        tasks.append("Photos", TaskRecord::MakeNew("d"));
        tasks.append("Docs", TaskRecord::MakeNew("d"));
        form.ApplyTexts();
        form.SetTaskList(&tasks);
        form.SetClock(&clock);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    ScheduleRecord& rec(std::size_t i = 0) { return tasks.schedules()[i]; }
    QString next() const { return form.lbNext->text(); }

    TaskList tasks;
    FixedClock clock;
    BoxScript boxes;
    TfmTask form;
};

TEST_F(ScheduleEditor, AddNumbersNamesAndANewScheduleStaysInactiveUntilAChange) {
    for (const char* name : {"ListBox1", "Edit1", "ComboBox1", "ComboBox2", "ComboBox3",
                             "MaskEdit1", "edRep", "lbNext", "Button1", "Button2", "Button3"})
        EXPECT_NE(form.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(form.windowTitle(), QMsg(126));
    EXPECT_FALSE(form.Edit1->isEnabled()); // nothing selected
    EXPECT_EQ(form.MaskEdit1->text(), "01:00:00");

    tasks.schedules() = {schedule::MakeNew("Schedule 1"), schedule::MakeNew("Schedule 3")};
    form.FormShow();
    form.Button1Click();
    EXPECT_EQ(schedule::name(rec(2)), "Schedule 2");
    EXPECT_TRUE(tasks.changed());
    EXPECT_EQ(form.ListBox1->currentRow(), 2);
    EXPECT_TRUE(form.Edit1->isEnabled());
    EXPECT_EQ(next(), QMsg(143)); // not known before a task is picked
    EXPECT_EQ(form.MaskEdit1->text(), "12:00:00");
    EXPECT_EQ(form.edRep->value(), -1);
    EXPECT_FALSE(schedule::Active(rec(2)));
    form.Button1Click();
    EXPECT_EQ(schedule::name(rec(3)), "Schedule 4");

    // Choosing the task is the first change: the rule arms it (interval of
    // 12 hours from now).
    form.ComboBox1->setCurrentIndex(1);
    EXPECT_EQ(schedule::task_name(rec(3)), "Docs");
    EXPECT_DOUBLE_EQ(schedule::next_run(rec(3)), clock.now + 0.5);
    EXPECT_EQ(next(), QMsg(143) + "2026-12-09 21:00:00");
    // A name that is no task is kept as typed.
    form.ComboBox1->setEditText("Gone");
    EXPECT_EQ(schedule::task_name(rec(3)), "Gone");

    form.Button2Click();
    EXPECT_EQ(tasks.schedules().size(), 3u);
    EXPECT_EQ(form.ListBox1->count(), 3);
    EXPECT_EQ(form.SelectedIndex(), -1);
    EXPECT_FALSE(form.Edit1->isEnabled());
}

// A click of the mouse, not only the arrow keys, fills and enables the fields.
TEST_F(ScheduleEditor, AMouseClickShowsTheSchedule) {
    tasks.schedules() = {schedule::MakeNew("Night"), schedule::MakeNew("Noon")};
    schedule::set_task_name(tasks.schedules()[1], "Docs");
    form.FormShow();
    for (int row : {1, 0, 1}) {
        QListWidgetItem* item = form.ListBox1->item(row);
        QTest::mouseClick(form.ListBox1->viewport(), Qt::LeftButton, {},
                          form.ListBox1->visualItemRect(item).center());
        EXPECT_EQ(form.SelectedIndex(), row);
        EXPECT_TRUE(form.Edit1->isEnabled()) << row;
        EXPECT_EQ(form.Edit1->text(), item->text());
    }
    EXPECT_EQ(form.ComboBox1->currentText(), "Docs");
}

TEST_F(ScheduleEditor, KindWeekDayRepeatAndTimeFollowTheRules) {
    form.Button1Click();
    form.ComboBox2->setCurrentIndex(2); // every week
    EXPECT_FALSE(form.ComboBox3->isHidden());
    form.ComboBox3->setCurrentIndex(3); // Wednesday
    EXPECT_EQ(schedule::week_day(rec()), 4);
    EXPECT_DOUBLE_EQ(schedule::next_run(rec()), EncodeDateTime({2026, 12, 9, 12, 0, 0, 0}));
    form.ComboBox2->setCurrentIndex(1); // every day: the week day stays
    EXPECT_TRUE(form.ComboBox3->isHidden());
    EXPECT_EQ(schedule::week_day(rec()), 4);

    // Typing makes it inactive and leaves lbNext alone; leaving re-arms it.
    tasks.setChanged(false);
    const QString before = next();
    form.MaskEdit1->setFocus();
    form.MaskEdit1->selectAll();
    QTest::keyClicks(form.MaskEdit1, "083000");
    EXPECT_EQ(schedule::next_run(rec()), 0.0);
    EXPECT_EQ(next(), before);
    EXPECT_TRUE(form.MaskEdit1Leave());
    EXPECT_DOUBLE_EQ(schedule::run_time(rec()), 8.5 / 24);
    EXPECT_DOUBLE_EQ(schedule::next_run(rec()), EncodeDateTime({2026, 12, 10, 8, 30, 0, 0}));
    EXPECT_TRUE(tasks.changed());

    // Passing through without typing stores the time again and re-applies
    // the rule (the clock moved past 08:30 of the next day meanwhile).
    clock.now += 1.0;
    tasks.setChanged(false);
    EXPECT_TRUE(form.MaskEdit1Leave());
    EXPECT_DOUBLE_EQ(schedule::next_run(rec()), EncodeDateTime({2026, 12, 11, 8, 30, 0, 0}));
    EXPECT_TRUE(tasks.changed());

    form.edRep->setValue(0);
    EXPECT_EQ(schedule::repeat_count(rec()), 0);
    EXPECT_EQ(next(), QMsg(143));
    EXPECT_FALSE(schedule::Active(rec()));
    // Not a number: reads as -1 when the field is left.
    QString t = "x";
    form.edRep->fixup(t);
    EXPECT_EQ(t, "-1");
}

TEST_F(ScheduleEditor, BadTimesAndDuplicateNamesAreRefusedAndChangeNothing) {
    form.Button1Click();
    form.Button1Click();
    const ScheduleRecord kept = rec(1);

    // Hours above 23: message 145, the record keeps its time.
    form.MaskEdit1->setFocus();
    form.MaskEdit1->selectAll();
    QTest::keyClicks(form.MaskEdit1, "250000");
    EXPECT_FALSE(form.MaskEdit1Leave());
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].text, Msg(145));
    EXPECT_EQ(boxes.seen[0].caption, Msg(31));
    EXPECT_DOUBLE_EQ(schedule::run_time(rec(1)), 0.5);

    // An empty required digit: the field's own refusal (entry 161).
    form.MaskEdit1->setText("12:3_:__");
    form.MaskEdit1->setModified(true);
    EXPECT_FALSE(form.MaskEdit1Leave());
    EXPECT_EQ(boxes.seen.back().text, Msg(161));
    EXPECT_DOUBLE_EQ(schedule::run_time(rec(1)), 0.5);

    // A name another schedule has: message 144, nothing stored.
    form.Edit1Enter();
    form.Edit1->setText("Schedule 1");
    form.Edit1->setModified(true);
    EXPECT_FALSE(form.Edit1Exit());
    EXPECT_EQ(boxes.seen.back().text, Msg(144));
    EXPECT_EQ(schedule::name(rec(1)), "Schedule 2");
    EXPECT_EQ(schedule::kind(rec(1)), schedule::kind(kept));

    // A name longer than the record keeps (and an empty one) is refused,
    // never cut: the same text as the console's, nothing stored.
    for (const char* name : {"Every night at ten", ""}) {
        form.Edit1->setText(name);
        form.Edit1->setModified(true);
        EXPECT_FALSE(form.Edit1Exit());
        EXPECT_EQ(boxes.seen.back().text,
                  rules::CheckScheduleName(name, [](std::string_view) { return false; }));
        EXPECT_EQ(schedule::name(rec(1)), "Schedule 2");
    }
}

TEST_F(ScheduleEditor, DamagedRecordsAreShownAsStored) {
    ScheduleRecord r = schedule::MakeNew("Odd");
    schedule::set_kind(r, std::uint8_t{9});
    schedule::set_week_day(r, 0);
    schedule::set_next_run(r, std::nan(""));
    r.bytes[16] = 200;
    tasks.schedules() = {r};
    form.FormShow();
    form.ListBox1->setCurrentRow(0);
    EXPECT_EQ(form.ComboBox2->currentIndex(), -1);
    EXPECT_EQ(next(), QMsg(143) + "nan");
    EXPECT_EQ(tasks.schedules()[0], r); // showing it changed nothing
}

// Counts the run requests (event 1287) that reach it.
struct RunTarget : QObject {
    int requests = 0;
    bool event(QEvent* e) override {
        if (static_cast<int>(e->type()) == TfmTask::kDoScheduleEvent) {
            ++requests;
            return true;
        }
        return QObject::event(e);
    }
};

TEST_F(ScheduleEditor, HostsTheCheckAndPostsTheRunRequest) {
    Scheduler scheduler;
    RunTarget target;
    form.SetScheduler(&scheduler, &target);
    form.Button1Click();
    form.ComboBox1->setCurrentIndex(0);
    clock.now = schedule::next_run(rec()) + 1.0 / 86400;
    tasks.setChanged(false);
    auto check = [this] {
        QCoreApplication::postEvent(
            &form, new QEvent(static_cast<QEvent::Type>(TfmTask::kCheckScheduleEvent)));
        QCoreApplication::sendPostedEvents(); // the check
        QCoreApplication::sendPostedEvents(); // the run request it posted
    };
    check();
    EXPECT_EQ(scheduler.PendingName(), "Photos");
    EXPECT_EQ(target.requests, 1);
    EXPECT_FALSE(tasks.changed()); // in memory only, not marked changed
    check();                       // the trigger has not run yet: nothing more is taken
    EXPECT_EQ(target.requests, 1);
}

} // namespace
} // namespace duplora::testing

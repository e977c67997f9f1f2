#pragma once
// TfmTask: the schedule editor. Every change is written into the selected
// schedule record at once (the name and the time when their fields are
// left), with the next-run rule applied and the changed flag set; nothing is
// saved here. The same window, created at start-up and hidden except while
// the user edits, hosts the scheduler's check (event 1280) for the whole life
// of the program.

#include "schedule/DateTime.h"
#include "tasks/TaskList.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace duplora {

class Scheduler;
class TSpinEdit;

class TfmTask : public QDialog {
    Q_OBJECT
public:
    static constexpr int kCheckScheduleEvent = 1280;
    static constexpr int kDoScheduleEvent = 1287;

    explicit TfmTask(QWidget* parent = nullptr);
    void ApplyTexts();

    // The main window's task list: its schedules are edited, its task names
    // offered, its changed flag set.
    void SetTaskList(TaskList* tasks) { tasks_ = tasks; }
    // The check's state and where it sends the run request (event 1287).
    void SetScheduler(Scheduler* scheduler, QObject* runTarget) {
        scheduler_ = scheduler;
        runTarget_ = runTarget;
    }
    // Where Now comes from (the system clock unless a test sets one).
    void SetClock(const Clock* clock) { clock_ = clock; }

    int SelectedIndex() const { return selected_; }

    QListWidget* ListBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QComboBox* ComboBox3 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* MaskEdit1 = nullptr;
    QLabel* Label4 = nullptr;
    TSpinEdit* edRep = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* lbNext = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;

    void FormShow();
    void ListBox1Click();
    void ComboBox2Change();
    // `source` is the control whose change it is; null for a change with no
    // originating control (leaving the time field).
    void FieldChange(QObject* source);
    void Edit1Enter();
    void Edit1Change();
    // False when the name was refused (the focus goes back to Edit1).
    bool Edit1Exit();
    void MaskEdit1Enter();
    // Leaving the time field: the masked field's own check, then
    // MaskEdit1Exit. False when the field keeps the focus.
    bool MaskEdit1Leave();
    bool MaskEdit1Exit();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void OnCheckSche();
    // Pause schedules (the tray menu): the check takes nothing, and moments
    // that pass meanwhile are missed as during a run.
    bool Paused = false;
    // The name of the schedule the last check took, for the run's log block.
    std::string TakenSchedule;
    // The earliest next run of an active schedule in words; "" none.
    std::string NextRunText() const;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    ScheduleRecord* selectedRecord();
    void setFieldsEnabled(bool on);
    void showNext(const ScheduleRecord& r);
    double now() const;
    void refocus(QWidget* field);

    TaskList* tasks_ = nullptr;
    Scheduler* scheduler_ = nullptr;
    QObject* runTarget_ = nullptr;
    const Clock* clock_ = nullptr;
    SystemClock systemClock_;
    int selected_ = -1;
    bool loading_ = false;
    bool refocusing_ = false; // a refused field is getting the focus back
    QString timeOnEnter_;     // what Escape gives back
};

} // namespace duplora

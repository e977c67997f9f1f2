#include "ui/TaskU.h"

#include "schedule/ScheduleRules.h"
#include "schedule/Scheduler.h"
#include "tasks/TaskRules.h"
#include "tasks/TextTable.h"
#include "ui/MessageBoxes.h"
#include "ui/SpinEdit.h"
#include "ui/WidgetTexts.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace duplora {

namespace {

std::string ToUtf8(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

template <class W> W* Named(W* w, const char* name) {
    w->setObjectName(QLatin1String(name));
    return w;
}

// Hours with one optional and one required digit, then two required digits
// each for minutes and seconds; '_' marks an empty position.
const QString kTimeMask = QStringLiteral("09:99:99;_");

} // namespace

TfmTask::TfmTask(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("fmTask"));
    ListBox1 = Named(new QListWidget(this), "ListBox1");
    Label1 = Named(new QLabel(this), "Label1");
    Edit1 = Named(new QLineEdit(this), "Edit1");
    Label2 = Named(new QLabel(this), "Label2");
    ComboBox1 = Named(new QComboBox(this), "ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox2 = Named(new QComboBox(this), "ComboBox2");
    ComboBox3 = Named(new QComboBox(this), "ComboBox3");
    Label3 = Named(new QLabel(this), "Label3");
    MaskEdit1 = Named(new QLineEdit(this), "MaskEdit1");
    MaskEdit1->setInputMask(kTimeMask);
    Label4 = Named(new QLabel(this), "Label4");
    edRep = Named(new TSpinEdit(this), "edRep");
    edRep->setRange(-1, 999);
    edRep->setMaxChars(3);
    Label5 = Named(new QLabel(this), "Label5");
    lbNext = Named(new QLabel(this), "lbNext");
    Button1 = Named(new QPushButton(this), "Button1");
    Button2 = Named(new QPushButton(this), "Button2");
    Button3 = Named(new QPushButton(this), "Button3");
    Button1->setAutoDefault(false);
    Button2->setAutoDefault(false);
    Button3->setAutoDefault(false);

    // List with Add and Delete under it on the left, the fields on the
    // right, Close at the bottom right: 444 x 337 like the original form.
    auto* left = new QVBoxLayout;
    left->addWidget(ListBox1, 1);
    auto* addDel = new QHBoxLayout;
    addDel->addWidget(Button1);
    addDel->addWidget(Button2);
    left->addLayout(addDel);

    auto* fields = new QGridLayout;
    fields->addWidget(Label1, 0, 0);
    fields->addWidget(Edit1, 0, 1, 1, 2);
    fields->addWidget(Label2, 1, 0);
    fields->addWidget(ComboBox1, 1, 1, 1, 2);
    fields->addWidget(ComboBox2, 2, 1);
    fields->addWidget(ComboBox3, 2, 2);
    fields->addWidget(Label3, 3, 0);
    fields->addWidget(MaskEdit1, 3, 1);
    fields->addWidget(Label4, 4, 0);
    fields->addWidget(edRep, 4, 1);
    fields->addWidget(Label5, 4, 2);
    fields->addWidget(lbNext, 5, 0, 1, 3);
    fields->setRowStretch(6, 1);
    fields->setColumnStretch(1, 1);
    fields->setColumnStretch(2, 1);

    auto* top = new QHBoxLayout;
    top->addLayout(left, 2);
    top->addLayout(fields, 3);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(Button3);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top, 1);
    outer->addLayout(bottom);
    resize(444, 337);

    // A mouse click makes the row current before it selects it; the fields
    // follow the selection, so both changes reach the handler.
    connect(ListBox1, &QListWidget::currentRowChanged, this, [this] { ListBox1Click(); });
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] { ListBox1Click(); });
    connect(ComboBox1, &QComboBox::currentTextChanged, this, [this] { FieldChange(ComboBox1); });
    connect(ComboBox2, &QComboBox::currentIndexChanged, this, [this] { FieldChange(ComboBox2); });
    connect(ComboBox3, &QComboBox::currentIndexChanged, this, [this] { FieldChange(ComboBox3); });
    connect(MaskEdit1, &QLineEdit::textEdited, this, [this] { FieldChange(MaskEdit1); });
    connect(edRep, &QSpinBox::valueChanged, this, [this] { FieldChange(edRep); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    Edit1->installEventFilter(this);
    MaskEdit1->installEventFilter(this);
    setFieldsEnabled(false);
}

void TfmTask::ApplyTexts() {
    ApplyInterfaceFont(this);
    setWindowTitle(QMsg(126));
    Label1->setText(QMsg(127));
    Label2->setText(QMsg(128));
    Label3->setText(QMsg(129));
    Label4->setText(QMsg(130));
    Label5->setText(QMsg(131));
    lbNext->setText(QMsg(143));
    Button1->setText(QMsg(139));
    Button2->setText(QMsg(140));
    Button3->setText(QMsg(75));
    const bool wasLoading = loading_;
    loading_ = true;
    const int kind = ComboBox2->currentIndex();
    ComboBox2->clear();
    for (int n : {146, 147, 148})
        ComboBox2->addItem(QMsg(n));
    ComboBox2->setCurrentIndex(kind < 0 ? 0 : kind);
    const int day = ComboBox3->currentIndex();
    ComboBox3->clear();
    for (int n = 132; n <= 138; ++n)
        ComboBox3->addItem(QMsg(n));
    ComboBox3->setCurrentIndex(day < 0 ? 0 : day);
    ComboBox3->setVisible(ComboBox2->currentIndex() > 1);
    loading_ = wasLoading;
}

double TfmTask::now() const {
    return (clock_ ? clock_ : &systemClock_)->Now();
}

ScheduleRecord* TfmTask::selectedRecord() {
    if (!tasks_ || selected_ < 0 ||
        static_cast<std::size_t>(selected_) >= tasks_->schedules().size())
        return nullptr;
    return &tasks_->schedules()[static_cast<std::size_t>(selected_)];
}

void TfmTask::setFieldsEnabled(bool on) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{Edit1, ComboBox1, ComboBox2, ComboBox3, MaskEdit1, edRep})
        w->setEnabled(on);
}

void TfmTask::showNext(const ScheduleRecord& r) {
    QString text = QMsg(143);
    // Not known until a task is picked: nothing rather than the zero date
    // (a damaged value, NaN, is shown as stored).
    if (schedule::repeat_count(r) != 0 && !(schedule::next_run(r) <= schedule::kNotSet))
        text += QUtf8(FormatDateTime(schedule::next_run(r), true));
    lbNext->setText(text);
}

void TfmTask::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    FormShow();
}

void TfmTask::FormShow() {
    const bool wasLoading = loading_;
    loading_ = true;
    ListBox1->clear();
    ComboBox1->clear();
    if (tasks_) {
        for (const ScheduleRecord& r : tasks_->schedules())
            ListBox1->addItem(QUtf8(schedule::name(r)));
        for (const Task& t : tasks_->tasks())
            ComboBox1->addItem(QUtf8(t.name));
    }
    ListBox1->setCurrentRow(-1);
    lbNext->setText(QMsg(143));
    loading_ = wasLoading;
    ListBox1Click();
}

void TfmTask::ListBox1Click() {
    const bool wasLoading = loading_;
    loading_ = true;
    const QListWidgetItem* item = ListBox1->currentItem();
    selected_ = item && item->isSelected() ? ListBox1->currentRow() : -1;
    if (const ScheduleRecord* r = selectedRecord()) {
        setFieldsEnabled(true);
        Edit1->setText(QUtf8(schedule::name(*r)));
        ComboBox1->setEditText(QUtf8(schedule::task_name(*r)));
        const std::uint8_t kind = schedule::kind(*r);
        // A stored kind outside the list shows no item; it stays as stored
        // until the user picks one.
        ComboBox2->setCurrentIndex(kind < ComboBox2->count() ? kind : -1);
        ComboBox2Change();
        MaskEdit1->setText(QUtf8(FormatTimeOfDay(schedule::run_time(*r))));
        edRep->setValue(schedule::repeat_count(*r));
        showNext(*r);
    } else {
        selected_ = -1;
        setFieldsEnabled(false);
        Edit1->clear();
        ComboBox1->setEditText(QString());
        ComboBox2->setCurrentIndex(0);
        ComboBox2Change();
        MaskEdit1->setText(QStringLiteral("01:00:00"));
        edRep->setValue(0);
    }
    loading_ = wasLoading;
}

void TfmTask::ComboBox2Change() {
    const ScheduleRecord* r = selectedRecord();
    const int day = r ? schedule::week_day(*r) - 1 : 0;
    const bool wasLoading = loading_;
    loading_ = true;
    // A stored day outside 1..7 shows no item.
    ComboBox3->setCurrentIndex(day >= 0 && day < ComboBox3->count() ? day : -1);
    loading_ = wasLoading;
    ComboBox3->setVisible(ComboBox2->currentIndex() > 1);
}

void TfmTask::FieldChange(QObject* source) {
    if (loading_)
        return;
    if (source == ComboBox2)
        ComboBox2Change();
    if (ScheduleRecord* r = selectedRecord()) {
        schedule::set_task_name(*r, ToUtf8(ComboBox1->currentText()));
        if (ComboBox2->currentIndex() >= 0)
            schedule::set_kind(*r, static_cast<std::uint8_t>(ComboBox2->currentIndex()));
        if (ComboBox3->currentIndex() >= 0)
            schedule::set_week_day(*r, static_cast<std::uint8_t>(ComboBox3->currentIndex() + 1));
        schedule::set_repeat_count(*r, static_cast<std::int16_t>(edRep->value()));
        schedule::set_next_run(*r, 0.0);
        // While the time is being typed the schedule stays inactive;
        // leaving the field re-arms it.
        if (source != MaskEdit1) {
            schedule::ApplyNextRun(*r, now());
            showNext(*r);
        }
    }
    if (tasks_)
        tasks_->setChanged();
}

void TfmTask::Edit1Enter() {
    Edit1->setModified(false);
}

void TfmTask::Edit1Change() {
    if (!loading_ && tasks_)
        tasks_->setChanged();
}

bool TfmTask::Edit1Exit() {
    ScheduleRecord* r = selectedRecord();
    if (!Edit1->isModified() || !r)
        return true;
    const std::string typed = ToUtf8(Edit1->text());
    const auto& list = tasks_->schedules();
    const std::string refusal = rules::CheckScheduleName(typed, [&](std::string_view name) {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (static_cast<int>(i) != selected_ && schedule::name(list[i]) == name)
                return true;
        return false;
    });
    if (!refusal.empty()) {
        ErrorBox(this, QUtf8(refusal), QMsg(31));
        refocus(Edit1);
        return false;
    }
    schedule::set_name(*r, typed);
    if (QListWidgetItem* item = ListBox1->item(selected_))
        item->setText(Edit1->text());
    Edit1->setModified(false);
    return true;
}

void TfmTask::MaskEdit1Enter() {
    // Coming back after a refusal keeps the text from before the typing.
    if (!MaskEdit1->isModified())
        timeOnEnter_ = MaskEdit1->text();
}

bool TfmTask::MaskEdit1Leave() {
    if (MaskEdit1->isModified() && !MaskEdit1->hasAcceptableInput()) {
        QApplication::beep();
        ErrorBox(this, QMsg(161), QMsg(31));
        refocus(MaskEdit1);
        return false;
    }
    return MaskEdit1Exit();
}

bool TfmTask::MaskEdit1Exit() {
    QString text = MaskEdit1->displayText();
    text.replace(QLatin1Char('_'), QLatin1Char(' '));
    double t = 0;
    if (!ParseTimeOfDay(ToUtf8(text), t)) {
        ErrorBox(this, QMsg(145), QMsg(31));
        refocus(MaskEdit1);
        return false;
    }
    MaskEdit1->setModified(false);
    if (ScheduleRecord* r = selectedRecord())
        schedule::set_run_time(*r, t);
    FieldChange(nullptr);
    return true;
}

void TfmTask::refocus(QWidget* field) {
    // Queued, and the other field's leave check is skipped meanwhile: moving
    // the focus from inside a focus-out, or two refused fields taking it from
    // each other, would never end.
    refocusing_ = true;
    QTimer::singleShot(0, field, [this, field] {
        field->setFocus();
        refocusing_ = false;
    });
}

void TfmTask::Button1Click() {
    if (!tasks_)
        return;
    auto& list = tasks_->schedules();
    const std::string name = schedule::NewName(list, Msg(142));
    list.push_back(schedule::MakeNew(name));
    {
        const bool wasLoading = loading_;
        loading_ = true;
        ListBox1->addItem(QUtf8(name));
        ListBox1->setCurrentRow(ListBox1->count() - 1);
        loading_ = wasLoading;
    }
    tasks_->setChanged();
    ListBox1Click();
}

void TfmTask::Button2Click() {
    if (!tasks_ || selected_ < 0)
        return;
    auto& list = tasks_->schedules();
    const int row = selected_;
    if (static_cast<std::size_t>(row) < list.size())
        list.erase(list.begin() + row);
    {
        const bool wasLoading = loading_;
        loading_ = true;
        delete ListBox1->takeItem(row);
        ListBox1->setCurrentRow(-1);
        ListBox1->clearSelection();
        loading_ = wasLoading;
    }
    tasks_->setChanged();
    ListBox1Click();
}

void TfmTask::Button3Click() {
    close();
}

void TfmTask::OnCheckSche() {
    if (!scheduler_ || !tasks_)
        return;
    if (Paused)
        return;
    const int taken = scheduler_->Check(tasks_->schedules(), now());
    if (taken < 0)
        return;
    TakenSchedule = schedule::name(tasks_->schedules()[static_cast<std::size_t>(taken)]);
    if (runTarget_)
        QCoreApplication::postEvent(runTarget_,
                                    new QEvent(static_cast<QEvent::Type>(kDoScheduleEvent)));
}

std::string TfmTask::NextRunText() const {
    if (!tasks_)
        return {};
    double next = 0;
    for (const ScheduleRecord& r : tasks_->schedules())
        if (schedule::Active(r) && (next == 0 || schedule::next_run(r) < next))
            next = schedule::next_run(r);
    return next == 0 ? std::string() : FormatDateTime(next, true);
}

bool TfmTask::event(QEvent* e) {
    if (static_cast<int>(e->type()) == kCheckScheduleEvent) {
        OnCheckSche();
        return true;
    }
    return QDialog::event(e);
}

bool TfmTask::eventFilter(QObject* watched, QEvent* e) {
    if (watched == Edit1) {
        if (e->type() == QEvent::FocusIn) {
            Edit1Enter();
        } else if (e->type() == QEvent::FocusOut) {
            const Qt::FocusReason why = static_cast<QFocusEvent*>(e)->reason();
            if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason && !refocusing_)
                Edit1Exit();
        }
    } else if (watched == MaskEdit1) {
        if (e->type() == QEvent::FocusIn) {
            MaskEdit1Enter();
        } else if (e->type() == QEvent::FocusOut) {
            // A box or another window taking the focus is not leaving the
            // field (the refusal's own box would otherwise refuse again).
            const Qt::FocusReason why = static_cast<QFocusEvent*>(e)->reason();
            if (why == Qt::ActiveWindowFocusReason || why == Qt::PopupFocusReason || refocusing_)
                return false;
            MaskEdit1Leave();
        } else if (e->type() == QEvent::KeyPress &&
                   static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape && MaskEdit1->isModified()) {
            MaskEdit1->setText(timeOnEnter_);
            MaskEdit1->setModified(false);
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

} // namespace duplora

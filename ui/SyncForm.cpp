#include "ui/SyncForm.h"

#include "platform/widgets/PmGauge.h"
#include "sync/run/SyncRun.h"
#include "tasks/TextTable.h"
#include "ui/CopyAnimation.h"
#include "ui/MessageBoxes.h"
#include "ui/SyncResult.h"
#include "ui/WidgetTexts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace duplora {

namespace {

TPmGauge* MakeGauge(QWidget* parent, const char* name) {
    auto* g = new TPmGauge(parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setForeColor(Qt::black);
    g->setBackColor(QColor(128, 128, 0)); // olive
    g->setTextColor(Qt::white);
    g->setFixedHeight(16);
    return g;
}

QLabel* MakeLabel(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    // A long path must not widen the window: the label takes the width it
    // is given and the text is cut to fit.
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    l->setMinimumHeight(l->fontMetrics().height());
    return l;
}

} // namespace

TSyncForm::TSyncForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("SyncForm"));
    setModal(true);
    SyncAnim = new TCopyAnimation(this);
    Label1 = MakeLabel(this, "Label1");
    Label3 = MakeLabel(this, "Label3");
    Label2 = MakeLabel(this, "Label2");
    Label4 = MakeLabel(this, "Label4");
    syncMeter = MakeGauge(this, "syncMeter");
    totMeter = MakeGauge(this, "totMeter");
    lbFileGauge = new QLabel(this);
    lbFileGauge->setObjectName(QStringLiteral("lbFileGauge"));
    lbTotalGauge = new QLabel(this);
    lbTotalGauge->setObjectName(QStringLiteral("lbTotalGauge"));
    lbProgress = MakeLabel(this, "lbProgress");
    btnCancel = new QPushButton(this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &TSyncForm::btnCancelClick);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 4, 16, 14);
    layout->setSpacing(8);
    layout->addWidget(SyncAnim, 0, Qt::AlignHCenter);
    layout->addSpacing(8);
    for (QLabel* l : {Label1, Label3, Label2, Label4})
        layout->addWidget(l);
    auto* gauges = new QGridLayout;
    gauges->setContentsMargins(0, 6, 16, 0);
    gauges->setHorizontalSpacing(8);
    gauges->setVerticalSpacing(12);
    gauges->addWidget(lbFileGauge, 0, 0);
    gauges->addWidget(syncMeter, 0, 1);
    gauges->addWidget(lbTotalGauge, 1, 0);
    gauges->addWidget(totMeter, 1, 1);
    gauges->setColumnStretch(1, 1);
    layout->addLayout(gauges);
    layout->addWidget(lbProgress);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnCancel);
    buttons->addStretch();
    layout->addLayout(buttons);
    resize(403, 285);
}

TSyncForm::~TSyncForm() = default;

void TSyncForm::ApplyTexts() {
    ApplyInterfaceFont(this);
    setWindowTitle(QMsg(44));
    btnCancel->setText(QMsg(45));
    lbFileGauge->setText(QMsg(186));
    lbTotalGauge->setText(QMsg(187));
    // A fixed border; the path label cuts its text instead of widening it.
    const QSize hint = sizeHint();
    setFixedSize(std::max(403, hint.width()), std::max(285, hint.height()));
}

void TSyncForm::Execute(RunContext& run) {
    run_ = &run;
    run.Ui = this;
    chainStarted_ = false;
    lastPump_ = {};
    exec();
    // A window closed from outside before the chain ended (it refuses, but
    // a toolkit may still force it) must not leave the run half-made.
    run_ = nullptr;
}

void TSyncForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (run_ && !chainStarted_) {
        chainStarted_ = true;
        FormShow();
    }
}

void TSyncForm::FormShow() {
    // BeginRun puts both gauges to 0 and empties Label3 and Label4 through
    // the observer, resets the counters and writes the first two lines.
    Label1->clear();
    fullPath_.clear();
    pathDirty_ = totalsDirty_ = false;
    Label2->clear();
    lbProgress->clear();
    speed_.Reset();
    BeginRun(*run_);
    post(kListMainEvent);
}

void TSyncForm::post(int type) {
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(type)));
}

bool TSyncForm::event(QEvent* e) {
    switch (static_cast<int>(e->type())) {
    case kListMainEvent:
        OnListMain();
        return true;
    case kListMirrorEvent:
        OnListMirror();
        return true;
    case kSyncMainEvent:
        OnSyncMain();
        return true;
    case kSyncMirrorEvent:
        OnSyncMirror();
        return true;
    case kSyncFolderEvent:
        OnSyncFolder();
        return true;
    case kShowLabelsEvent:
        labelsPosted_ = false;
        showLabels();
        return true;
    default:
        return QDialog::event(e);
    }
}

void TSyncForm::OnListMain() {
    if (!run_)
        return;
    StepListMain(*run_);
    post(kListMirrorEvent);
}

void TSyncForm::OnListMirror() {
    if (!run_)
        return;
    if (StepListMirror(*run_))
        post(kSyncMainEvent);
    else
        finish();
}

void TSyncForm::OnSyncMain() {
    if (!run_)
        return;
    StepSyncMain(*run_);
    post(kSyncMirrorEvent);
}

void TSyncForm::OnSyncMirror() {
    if (!run_)
        return;
    StepSyncMirror(*run_);
    post(kSyncFolderEvent);
}

void TSyncForm::OnSyncFolder() {
    if (!run_)
        return;
    StepSyncFolder(*run_);
    if (OnEndLine && !run_->EndLine.empty())
        OnEndLine(run_->EndLine);
    finish();
}

void TSyncForm::finish() {
    showLabels();
    StopAnimation();
    run_ = nullptr;
    done(QDialog::Accepted);
}

void TSyncForm::btnCancelClick() {
    if (!run_ || !CanCancel(*run_))
        return;
    if (YesNoBox(this, QMsg(73), QMsg(72)) && run_)
        RequestCancel(*run_); // refused when the run has moved on to its end
}

void TSyncForm::CancelRun() {
    if (run_)
        RequestCancel(*run_);
}

void TSyncForm::closeEvent(QCloseEvent* e) {
    // The chain owns the window until its last step: closing earlier would
    // leave posted steps to run after Execute returned.
    if (run_)
        e->ignore();
    else
        QDialog::closeEvent(e);
}

void TSyncForm::reject() {
    if (!run_)
        QDialog::reject();
}

// --- observer ---

void TSyncForm::Pump() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ < kPumpInterval)
        return;
    lastPump_ = now;
    showLabels(); // what this turn of the loop paints
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TSyncForm::SetStatus(const std::string& text) {
    Label1->setText(QUtf8(text));
}

void TSyncForm::SetOperation(const std::string& text) {
    Label3->setText(QUtf8(text));
}

// A copy of small files changes the path and the totals for every file, up
// to ~10,000 times a second. Setting a label lays its text out (and the path
// is elided to fit, which lays it out again): about 12 us per file, 1.2 s
// over 100,000 files, more than a tenth of the copy itself. Only what is on
// screen when the loop turns matters, so the texts are kept here and put
// into the labels once per turn: in Pump() before it lets events through,
// and through one posted event when the loop runs on its own.
void TSyncForm::SetPath(const std::string& text) {
    pendingPath_ = text;
    pathDirty_ = true;
    scheduleLabels();
}

void TSyncForm::scheduleLabels() {
    if (labelsPosted_)
        return;
    labelsPosted_ = true;
    post(kShowLabelsEvent);
}

void TSyncForm::showLabels() {
    if (pathDirty_) {
        pathDirty_ = false;
        fullPath_ = QUtf8(pendingPath_);
        showPathElided();
    }
    if (totalsDirty_) {
        totalsDirty_ = false;
        Label4->setText(QUtf8(pendingTotals_));
    }
    showProgressLine();
}

void TSyncForm::showProgressLine() {
    if (!run_ || (run_->State != RunState::ExecHost && run_->State != RunState::ExecMirror))
        return;
    const SyncPlan& p = run_->Plan;
    const std::int64_t total =
        std::int64_t{p.ToMirrorCount} + p.ToHostCount + p.HostDeleteCount + p.MirrorDeleteCount;
    const std::int64_t done = std::int64_t{p.CopiedToMirror} + p.CopiedToHost + p.DeletedInHost +
                              p.DeletedInMirror + p.FailedCount;
    const auto now = Clock ? Clock() : std::chrono::steady_clock::now();
    speed_.Sample(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count(),
        p.DoneBytes);
    const QString line =
        QUtf8(ProgressLine(done, total, speed_.BytesPerSecond(), p.TotalBytes - p.DoneBytes));
    if (lbProgress->text() != line)
        lbProgress->setText(line);
}

void TSyncForm::showPathElided() {
    const int width = Label2->width() > 20 ? Label2->width() : 371;
    Label2->setText(Label2->fontMetrics().elidedText(fullPath_, Qt::ElideMiddle, width));
    Label2->setToolTip(fullPath_);
}

void TSyncForm::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    showPathElided();
}

void TSyncForm::SetTotals(const std::string& text) {
    pendingTotals_ = text;
    totalsDirty_ = true;
    scheduleLabels();
}

void TSyncForm::SetFileGauge(int percent) {
    syncMeter->setProgress(percent);
}

void TSyncForm::SetTotalGauge(int percent) {
    totMeter->setProgress(percent);
}

void TSyncForm::StartAnimation() {
    static_cast<TCopyAnimation*>(SyncAnim)->start();
}

void TSyncForm::StopAnimation() {
    static_cast<TCopyAnimation*>(SyncAnim)->stop();
}

bool TSyncForm::AnimationRunning() const {
    return static_cast<const TCopyAnimation*>(SyncAnim)->running();
}

bool TSyncForm::ShowPreview(SyncPlan& plan, const RunContext& run) {
    return Preview ? Preview(plan, run) : true;
}

void TSyncForm::ShowMessage(const std::string& text, const std::string& caption) {
    // Message 55 comes with caption 27 "Prompt": a notice, not an error.
    if (caption == Msg(31))
        ErrorBox(isVisible() ? this : parentWidget(), QUtf8(text), QUtf8(caption));
    else
        NoticeBox(isVisible() ? this : parentWidget(), QUtf8(text), QUtf8(caption));
}

bool TSyncForm::AskYesNo(const std::string& text, const std::string& caption) {
    return YesNoBox(isVisible() ? this : parentWidget(), QUtf8(text), QUtf8(caption));
}

void TSyncForm::ShowResult() {
    QApplication::beep();
    if (ResultForm)
        ResultForm->exec();
}

} // namespace duplora

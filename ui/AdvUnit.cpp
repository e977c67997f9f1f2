#include "ui/AdvUnit.h"

#include "sync/run/RunGate.h"
#include "ui/MessageBoxes.h"
#include "ui/SpinEdit.h"
#include "ui/WidgetTexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace duplora {

namespace {

std::string toUtf8(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// A mask list asks for a column's share of a compact dialog rather than the
// scroll area's generous default, so the three columns fit side by side.
class MaskList : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;
    QSize sizeHint() const override {
        const int line = fontMetrics().lineSpacing();
        return QSize(fontMetrics().averageCharWidth() * 16, line * 7);
    }
};

QPlainTextEdit* makeList(QWidget* parent, const char* name) {
    auto* l = new MaskList(parent);
    l->setObjectName(QLatin1String(name));
    l->setLineWrapMode(QPlainTextEdit::NoWrap);
    l->setTabChangesFocus(true);
    return l;
}

// The password is masked; the user name is shown as typed.
QLineEdit* makeCredential(QWidget* parent, const char* name, bool masked) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    if (masked) {
        e->setEchoMode(QLineEdit::Password);
        // Every character shows as '*' (42), whatever the style's own choice.
        e->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    }
    e->setMaxLength(AdvLimits::kCredentialChars);
    return e;
}

// The 15-character limit is for typing; a longer stored value is shown and
// kept whole rather than cut by the field.
void setCredential(QLineEdit* e, const std::string& text) {
    const QString s = QUtf8(text);
    e->setMaxLength(std::max<int>(AdvLimits::kCredentialChars, static_cast<int>(s.size())));
    e->setText(s);
}

} // namespace

TadvForm::TadvForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("advForm"));

    auto label = [this](const char* name) {
        auto* l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    auto check = [this](const char* name) {
        auto* c = new QCheckBox(this);
        c->setObjectName(QLatin1String(name));
        return c;
    };
    auto spin = [this](const char* name, int max) {
        auto* s = new TSpinEdit(this);
        s->setObjectName(QLatin1String(name));
        s->setRange(0, max);
        return s;
    };
    auto button = [this](const char* name) {
        auto* b = new QPushButton(this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };

    Label2 = label("Label2");
    edNetName = makeCredential(this, "edNetName", false);
    Label1 = label("Label1");
    edNetPass = makeCredential(this, "edNetPass", true);
    Label2->setBuddy(edNetName);
    Label1->setBuddy(edNetPass);
    chkOnlyType = check("chkOnlyType");
    liOnlyType = makeList(this, "liOnlyType");
    chkIgnore = check("chkIgnore");
    liIgnore = makeList(this, "liIgnore");
    chkDel = check("chkDel");
    liDel = makeList(this, "liDel");
    chkAuto = check("chkAuto");
    Label3 = label("Label3");
    edSpeed = spin("edSpeed", AdvLimits::kSpeedMax);
    Label3->setBuddy(edSpeed);
    Label4 = label("Label4");
    edErr = spin("edErr", AdvLimits::kErrorsMax);
    Label4->setBuddy(edErr);
    chk1Hour = check("chk1Hour");
    lbShift = label("lbShift");
    edShift = spin("edShift", AdvLimits::kShiftMax);
    edShift->setMaxChars(2);
    lbShift->setBuddy(edShift);
    chkMoves = check("chkMoves");
    lbMoveMin = label("lbMoveMin");
    edMoveMin = spin("edMoveMin", AdvLimits::kMoveMinKbMax);
    edMoveMin->setMinimum(1);
    lbMoveMin->setBuddy(edMoveMin);
    lbOnDelete = label("lbOnDelete");
    cbOnDelete = new QComboBox(this);
    cbOnDelete->setObjectName(QStringLiteral("cbOnDelete"));
    for (int i = 0; i < 3; ++i)
        cbOnDelete->addItem(QString());
    lbOnDelete->setBuddy(cbOnDelete);
    lbVersions = label("lbVersions");
    edVersions = new QLineEdit(this);
    edVersions->setObjectName(QStringLiteral("edVersions"));
    lbVersions->setBuddy(edVersions);
    lbDelLimit = label("lbDelLimit");
    edDelLimit = spin("edDelLimit", AdvLimits::kDeleteLimitMax);
    edDelLimit->setMaxChars(3);
    lbDelLimit->setBuddy(edDelLimit);
    chkRemember = check("chkRemember");
    auto combo = [this](const char* name, QLabel* buddy) {
        auto* c = new QComboBox(this);
        c->setObjectName(QLatin1String(name));
        buddy->setBuddy(c);
        return c;
    };
    lbDeletedInHost = label("lbDeletedInHost");
    cbDeletedInHost = combo("cbDeletedInHost", lbDeletedInHost);
    lbDeletedInMirror = label("lbDeletedInMirror");
    cbDeletedInMirror = combo("cbDeletedInMirror", lbDeletedInMirror);
    for (const auto& [box, kind] :
         {std::pair{cbDeletedInHost, rules::Difference::DeletedInHost},
          std::pair{cbDeletedInMirror, rules::Difference::DeletedInMirror}})
        for (SyncAction a : rules::AllowedActions(kind))
            box->addItem(QString(), static_cast<int>(a));
    lbConflict = label("lbConflict");
    cbConflict = combo("cbConflict", lbConflict);
    for (ConflictAction a : rules::kConflictActions)
        cbConflict->addItem(QString(), static_cast<int>(a));
    btnDef = button("btnDef");
    btnOk = button("btnOk");
    btnOk->setDefault(true);
    btnCancel = button("btnCancel");

    connect(chkOnlyType, &QCheckBox::toggled, liOnlyType, &QWidget::setEnabled);
    connect(chkIgnore, &QCheckBox::toggled, liIgnore, &QWidget::setEnabled);
    connect(chkDel, &QCheckBox::toggled, liDel, &QWidget::setEnabled);
    connect(chkMoves, &QCheckBox::toggled, edMoveMin, &QWidget::setEnabled);
    connect(chkRemember, &QCheckBox::toggled, this, &TadvForm::chkRememberChange);
    connect(cbOnDelete, &QComboBox::currentIndexChanged, this, &TadvForm::cbOnDeleteChange);
    connect(btnDef, &QPushButton::clicked, this, &TadvForm::btnDefClick);
    connect(btnOk, &QPushButton::clicked, this, &TadvForm::btnOkClick);
    // Choosing the trash for a task on a share says at once that runs will
    // be refused (a share has no trash).
    connect(cbOnDelete, &QComboBox::activated, this, [this](int index) {
        if (!record_ || index != static_cast<int>(DeleteMode::Trash))
            return;
        TaskRecord chosen = *record_;
        chosen.set_on_delete(DeleteMode::Trash);
        if (const std::string problem = ShareTrashProblem(chosen); !problem.empty())
            NoticeBox(this, QUtf8(problem), QMsg(31));
    });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    edNetName->installEventFilter(this);
    edNetPass->installEventFilter(this);

    auto* top = new QHBoxLayout;
    top->addWidget(Label2);
    top->addWidget(edNetName, 1);
    top->addSpacing(12);
    top->addWidget(Label1);
    top->addWidget(edNetPass, 1);

    auto* lists = new QGridLayout;
    lists->addWidget(chkOnlyType, 0, 0);
    lists->addWidget(liOnlyType, 1, 0);
    lists->addWidget(chkIgnore, 0, 1);
    lists->addWidget(liIgnore, 1, 1);
    lists->addWidget(chkDel, 0, 2);
    lists->addWidget(liDel, 1, 2);
    for (int c = 0; c < 3; ++c)
        lists->setColumnStretch(c, 1);

    auto* limits = new QHBoxLayout;
    limits->addWidget(chkAuto);
    limits->addStretch();
    limits->addWidget(Label3);
    limits->addWidget(edSpeed);
    limits->addSpacing(12);
    limits->addWidget(Label4);
    limits->addWidget(edErr);

    auto* shift = new QHBoxLayout;
    shift->addWidget(lbShift);
    shift->addWidget(edShift);
    shift->addStretch();

    auto* moves = new QHBoxLayout;
    moves->addWidget(chkMoves);
    moves->addStretch();
    moves->addWidget(lbMoveMin);
    moves->addWidget(edMoveMin);

    auto* safety = new QGridLayout;
    safety->addWidget(lbOnDelete, 0, 0);
    safety->addWidget(cbOnDelete, 0, 1);
    safety->addWidget(lbDelLimit, 0, 3);
    safety->addWidget(edDelLimit, 0, 4);
    safety->addWidget(lbVersions, 1, 0);
    safety->addWidget(edVersions, 1, 1, 1, 4);
    safety->setColumnStretch(2, 1);

    // The box and the conflict answer on one line, the two delete answers
    // on the next: the dialog stays low enough for an 800x500 screen.
    auto* remember = new QGridLayout;
    remember->addWidget(chkRemember, 0, 0, 1, 2);
    remember->addWidget(lbConflict, 0, 2);
    remember->addWidget(cbConflict, 0, 3);
    remember->addWidget(lbDeletedInHost, 1, 0);
    remember->addWidget(cbDeletedInHost, 1, 1);
    remember->addWidget(lbDeletedInMirror, 1, 2);
    remember->addWidget(cbDeletedInMirror, 1, 3);
    remember->setColumnStretch(1, 1);
    remember->setColumnStretch(3, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnDef);
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addLayout(top);
    layout->addLayout(lists, 1);
    layout->addLayout(limits);
    layout->addWidget(chk1Hour);
    layout->addLayout(shift);
    layout->addLayout(moves);
    layout->addLayout(safety);
    layout->addLayout(remember);
    layout->addSpacing(4);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(409);
}

void TadvForm::ApplyTexts() {
    ApplyInterfaceFont(this);
    setWindowTitle(QMsg(102));
    chkIgnore->setText(QMsg(94));
    chkDel->setText(QMsg(95));
    chkAuto->setText(QMsg(97));
    chkAuto->setToolTip(QMsg(38));
    btnDef->setText(QMsg(98));
    btnOk->setText(QMsg(99));
    btnCancel->setText(QMsg(100));
    Label2->setText(QMsg(106));
    Label1->setText(QMsg(105));
    Label3->setText(QMsg(107));
    // 0 KB/s is no limit at all, and says so.
    edSpeed->setSpecialValueText(QMsg(264));
    chkOnlyType->setText(QMsg(117));
    Label4->setText(QMsg(120));
    chk1Hour->setText(QMsg(124));
    lbShift->setText(QMsg(125));
    chkMoves->setText(QMsg(221));
    lbMoveMin->setText(QMsg(226));
    lbOnDelete->setText(QMsg(212));
    for (int i = 0; i < 3; ++i)
        cbOnDelete->setItemText(i, QMsg(213 + i));
    lbVersions->setText(QMsg(216));
    lbDelLimit->setText(QMsg(217));
    lbDelLimit->setToolTip(QMsg(218));
    edDelLimit->setToolTip(QMsg(218));
    chkRemember->setText(QMsg(282));
    lbDeletedInHost->setText(QMsg(283));
    lbDeletedInMirror->setText(QMsg(284));
    lbConflict->setText(QMsg(285));
    // Entries 20 + the action name the actions, as in the main window's lists.
    for (QComboBox* box : {cbDeletedInHost, cbDeletedInMirror})
        for (int i = 0; i < box->count(); ++i)
            box->setItemText(i, QMsg(20 + box->itemData(i).toInt()));
    for (int i = 0; i < cbConflict->count(); ++i)
        cbConflict->setItemText(i, QMsg(286 + i));
}

bool TadvForm::Execute(TaskRecord& record) {
    setRecord(&record);
    const bool ok = exec() == QDialog::Accepted;
    setRecord(nullptr);
    return ok;
}

AdvValues TadvForm::values() const {
    AdvValues v;
    v.netUser = toUtf8(edNetName->text());
    v.netPassword = toUtf8(edNetPass->text());
    v.onlyOn = chkOnlyType->isChecked();
    v.onlyText = toUtf8(liOnlyType->toPlainText());
    v.ignoreOn = chkIgnore->isChecked();
    v.ignoreText = toUtf8(liIgnore->toPlainText());
    v.deleteOn = chkDel->isChecked();
    v.deleteText = toUtf8(liDel->toPlainText());
    v.autoMode = chkAuto->isChecked();
    v.speed = edSpeed->value();
    v.maxErrors = edErr->value();
    v.ignoreHour = chk1Hour->isChecked();
    v.shiftSeconds = edShift->value();
    v.detectMoves = chkMoves->isChecked();
    v.moveMinKb = edMoveMin->value();
    v.onDelete = static_cast<DeleteMode>(std::clamp(cbOnDelete->currentIndex(), 0, 2));
    v.versionsFolder = toUtf8(edVersions->text());
    v.deleteLimit = edDelLimit->value();
    v.remember = chkRemember->isChecked();
    v.deletedInHost = static_cast<SyncAction>(cbDeletedInHost->currentData().toInt());
    v.deletedInMirror = static_cast<SyncAction>(cbDeletedInMirror->currentData().toInt());
    v.conflict = static_cast<ConflictAction>(cbConflict->currentData().toInt());
    return v;
}

void TadvForm::setValues(const AdvValues& v) {
    setCredential(edNetName, v.netUser);
    setCredential(edNetPass, v.netPassword);
    chkOnlyType->setChecked(v.onlyOn);
    liOnlyType->setPlainText(QUtf8(v.onlyText));
    chkIgnore->setChecked(v.ignoreOn);
    liIgnore->setPlainText(QUtf8(v.ignoreText));
    chkDel->setChecked(v.deleteOn);
    liDel->setPlainText(QUtf8(v.deleteText));
    chkAuto->setChecked(v.autoMode);
    edSpeed->setValue(v.speed);
    edErr->setValue(v.maxErrors);
    chk1Hour->setChecked(v.ignoreHour);
    edShift->setValue(v.shiftSeconds);
    chkMoves->setChecked(v.detectMoves);
    edMoveMin->setValue(v.moveMinKb);
    edMoveMin->setEnabled(v.detectMoves);
    cbOnDelete->setCurrentIndex(static_cast<int>(v.onDelete));
    edVersions->setText(QUtf8(v.versionsFolder));
    edDelLimit->setValue(v.deleteLimit);
    cbOnDeleteChange();
    chkRemember->setChecked(v.remember);
    cbDeletedInHost->setCurrentIndex(
        std::max(0, cbDeletedInHost->findData(static_cast<int>(v.deletedInHost))));
    cbDeletedInMirror->setCurrentIndex(
        std::max(0, cbDeletedInMirror->findData(static_cast<int>(v.deletedInMirror))));
    cbConflict->setCurrentIndex(std::max(0, cbConflict->findData(static_cast<int>(v.conflict))));
    chkRememberChange();
}

void TadvForm::cbOnDeleteChange() {
    const bool versions = cbOnDelete->currentIndex() == static_cast<int>(DeleteMode::Versions);
    lbVersions->setEnabled(versions);
    edVersions->setEnabled(versions);
}

void TadvForm::chkRememberChange() {
    const bool on = chkRemember->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{lbDeletedInHost, cbDeletedInHost, lbDeletedInMirror,
                                         cbDeletedInMirror, lbConflict, cbConflict})
        w->setEnabled(on);
}

void TadvForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TadvForm::FormShow() {
    if (!record_)
        return;
    const AdvValues v = LoadAdvValues(*record_);
    setValues(v);
    const AdvEnabled e = EnabledOnShow(record_->sync_type(), v);
    chkOnlyType->setEnabled(e.chkOnlyType);
    chkIgnore->setEnabled(e.chkIgnore);
    chkDel->setEnabled(e.chkDel);
    liOnlyType->setEnabled(e.liOnlyType);
    liIgnore->setEnabled(e.liIgnore);
    liDel->setEnabled(e.liDel);
}

void TadvForm::btnDefClick() {
    AdvValues v = values();
    ApplyAdvDefaults(v);
    // Only the fields Defaults touches change on screen; toggling the boxes
    // sets their lists' enabled state.
    chkOnlyType->setChecked(v.onlyOn);
    liOnlyType->setEnabled(v.onlyOn);
    chkIgnore->setChecked(v.ignoreOn);
    liIgnore->setPlainText(QUtf8(v.ignoreText));
    liIgnore->setEnabled(v.ignoreOn);
    chkDel->setChecked(v.deleteOn);
    liDel->setEnabled(v.deleteOn);
    chkAuto->setChecked(v.autoMode);
}

QPlainTextEdit* TadvForm::listOf(AdvList which) const {
    switch (which) {
    case AdvList::Only:
        return liOnlyType;
    case AdvList::Ignore:
        return liIgnore;
    case AdvList::Delete:
        return liDel;
    case AdvList::None:
        break;
    }
    return nullptr;
}

void TadvForm::btnOkClick() {
    // Text still being typed in a spin field counts as if the field was left.
    for (TSpinEdit* s : {edSpeed, edErr, edShift, edMoveMin, edDelLimit})
        s->interpretText();
    const AdvValues v = values();
    if (QPlainTextEdit* bad = listOf(FindOverlongList(v))) {
        QMessageBox box(QMessageBox::Critical, QMsg(31), QMsg(101), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("advTooManyFiles"));
        box.exec();
        bad->setFocus();
        return;
    }
    // A mask a run would refuse is caught here, where it can be mended; a
    // list that is switched off, or greyed out for a file task, is not in use.
    AdvValues inUse = v;
    inUse.onlyOn = inUse.onlyOn && liOnlyType->isEnabled();
    inUse.ignoreOn = inUse.ignoreOn && liIgnore->isEnabled();
    inUse.deleteOn = inUse.deleteOn && liDel->isEnabled();
    const AdvMaskProblem problem = FindInvalidMask(inUse);
    if (QPlainTextEdit* bad = listOf(problem.which)) {
        ErrorBox(this, QUtf8(problem.message), QMsg(31));
        bad->setFocus();
        return;
    }
    if (record_) {
        if (const std::string refusal = FieldRefusal(v, *record_); !refusal.empty()) {
            ErrorBox(this, QUtf8(refusal), QMsg(31));
            return;
        }
        const std::string versions = VersionsFolderRefusal(v, *record_);
        if (!versions.empty()) {
            ErrorBox(this, QUtf8(versions), QMsg(31));
            edVersions->setFocus();
            edVersions->selectAll();
            return;
        }
        StoreAdvValues(v, *record_);
        if (OnChanged)
            OnChanged();
    }
    accept();
}

bool TadvForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && (watched == edNetName || watched == edNetPass)) {
        // Queued: a mouse click that gave the focus would otherwise place the
        // cursor and undo the selection.
        auto* edit = static_cast<QLineEdit*>(watched);
        QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace duplora

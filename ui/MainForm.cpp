#include "ui/MainForm.h"

#include "platform/widgets/StdDirDlg.h"
#include "platform/widgets/TrayIcon.h"
#include "platform/widgets/rDragController.h"
#include "sync/compare/RootRelation.h"
#include "sync/fs/FolderOps.h"
#include "sync/run/RunMarker.h"
#include "sync/run/RunReport.h"
#include "sync/run/SyncRun.h"
#include "tasks/ConfigFile.h"
#include "tasks/FileLock.h"
#include "tasks/Helpers.h"
#include "tasks/LogFile.h"
#include "tasks/TaskEditRules.h"
#include "tasks/TaskPresets.h"
#include "tasks/TextTable.h"
#include "ui/AboutU.h"
#include "ui/AdvUnit.h"
#include "ui/AppResources.h"
#include "ui/MessageBoxes.h"
#include "ui/SyncForm.h"
#include "ui/WidgetTexts.h"
#include "ui/addDirU.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace duplora {

namespace {

std::string ToUtf8(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

template <class T> T* Named(T* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QPushButton* SmallButton(QWidget* parent, const char* name) {
    auto* b = Named(new QPushButton(parent), name);
    b->setAutoDefault(false);
    return b;
}

// No current row. Through the view, so that the list does not make its
// first row current by itself when it gets the keyboard focus.
void ClearListCurrent(QListWidget* list) {
    list->setCurrentIndex(QModelIndex());
}

// A round mark for a task's last run: green finished, red failed or refused.
QIcon OutcomeMark(bool ok) {
    QPixmap p(16, 16);
    p.fill(Qt::transparent);
    QPainter painter(&p);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ok ? QColor(0x2e, 0x9d, 0x48) : QColor(0xd0, 0x30, 0x30));
    painter.drawEllipse(QRectF(3, 3, 10, 10));
    return QIcon(p);
}

// The tray icon with a red corner: an unattended run failed.
QIcon ErrorTrayIcon() {
    QPixmap p = QIcon(QStringLiteral(":/icons/duplora.svg")).pixmap(32, 32);
    QPainter painter(&p);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(QColor(0xd0, 0x30, 0x30));
    painter.drawEllipse(QRectF(15, 15, 16, 16));
    return QIcon(p);
}

} // namespace

TcltForm::TcltForm(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("cltForm"));
    InitAppResources();
    buildControls();
    ShowCurrentTask();
    TrayIcon1 = new TTrayIcon(this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    UpdateTrayStatus();
    TrayIcon1->OnClick = [this](TTrayIcon*) { TrayIcon1Click(); };
    TrayMenu = Named(new QMenu(this), "TrayMenu");
    TrayOpen = TrayMenu->addAction(QString());
    TrayRun = TrayMenu->addAction(QString());
    TrayPause = TrayMenu->addAction(QString());
    TrayMenu->addSeparator();
    TrayQuit = TrayMenu->addAction(QString());
    connect(TrayOpen, &QAction::triggered, this, &TcltForm::TrayIcon1Click);
    connect(TrayRun, &QAction::triggered, this, &TcltForm::GoSyncClick);
    connect(TrayPause, &QAction::triggered, this, [this] {
        if (PauseSchedules && SchedulesPaused)
            PauseSchedules(!SchedulesPaused());
        UpdateTrayStatus();
    });
    connect(TrayQuit, &QAction::triggered, this, [this] {
        TrayIcon1Click();
        close();
    });
    // The pause entry names what it will do, read when the menu opens.
    connect(TrayMenu, &QMenu::aboutToShow, this, [this] {
        TrayPause->setEnabled(PauseSchedules && SchedulesPaused);
        TrayPause->setText(QMsg(SchedulesPaused && SchedulesPaused() ? 251 : 250));
    });
    TrayIcon1->PopupMenu = TrayMenu;
    ShowBalloon = [this](const QString& title, const QString& text) {
        if (QSystemTrayIcon* icon = TrayIcon1->platformIcon())
            icon->showMessage(title, text, QSystemTrayIcon::Warning);
    };
    TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
}

TcltForm::~TcltForm() = default;

void TcltForm::buildControls() {
    ToolBar1 = Named(new QToolBar(this), "ToolBar1");
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(24, 24));
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar1);
    auto tool = [this](const char* name, const char* icon, void (TcltForm::*handler)()) {
        QAction* a = ToolBar1->addAction(QIcon(QStringLiteral(":/icons/%1.svg").arg(icon)), {});
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, handler);
        if (QWidget* w = ToolBar1->widgetForAction(a))
            w->setObjectName(QString::fromLatin1(name) + QStringLiteral("Button"));
        return a;
    };
    ToolButton1 = tool("ToolButton1", "save", &TcltForm::ToolButton1Click);
    ToolBar1->addSeparator();
    NewBtn = tool("NewBtn", "newtask", &TcltForm::NewBtnClick);
    // A click makes a task with the defaults; the arrow offers the presets.
    NewMenu = Named(new QMenu(this), "NewMenu");
    for (int preset : {0, 1}) {
        QAction* a = NewMenu->addAction(QString());
        a->setObjectName(preset == 0 ? QStringLiteral("NewMirror") : QStringLiteral("NewTwoWay"));
        connect(a, &QAction::triggered, this, [this, preset] { NewPresetClick(preset); });
    }
    NewBtn->setMenu(NewMenu);
    if (auto* b = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(NewBtn)))
        b->setPopupMode(QToolButton::MenuButtonPopup);
    AddBtn = tool("AddBtn", "copytask", &TcltForm::AddBtnClick);
    DelBtn = tool("DelBtn", "deltask", &TcltForm::DelBtnClick);
    ToolBar1->addSeparator();
    GoSync = tool("GoSync", "gosync", &TcltForm::GoSyncClick);
    GoSync->setEnabled(false);
    ToolBar1->addSeparator();
    btTask = tool("btTask", "schedule", &TcltForm::btTaskClick);
    ToolBar1->addSeparator();
    AboutBtn = tool("AboutBtn", "about", &TcltForm::AboutBtnClick);
    ExitBtn = tool("ExitBtn", "exit", &TcltForm::ExitBtnClick);
    ToolButton1->setShortcut(QKeySequence::Save);
    NewBtn->setShortcut(QKeySequence::New);
    GoSync->setShortcut(QKeySequence(Qt::Key_F5));

    // The fields sit in a scroll area: on a small screen (or a large
    // interface scale) the window can be made smaller than they need and
    // still reaches every one of them.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrollFields"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* central = new QWidget(scroll);
    central->setObjectName(QStringLiteral("fields"));
    scroll->setWidget(central);
    setCentralWidget(scroll);
    fields_ = central;

    // Left column: the task list and the description.
    Label1 = Named(new QLabel(central), "Label1");
    Label1->setAlignment(Qt::AlignCenter);
    liTask = Named(new QListWidget(central), "liTask");
    liTask->setSelectionMode(QAbstractItemView::SingleSelection);
    liTask->setContextMenuPolicy(Qt::CustomContextMenu);
    liTask->setFixedWidth(140);
    Label1->setBuddy(liTask);
    PopupMenu1 = Named(new QMenu(this), "PopupMenu1");
    A1 = PopupMenu1->addAction(QString());
    A1->setObjectName(QStringLiteral("A1"));
    C1 = PopupMenu1->addAction(QString());
    C1->setObjectName(QStringLiteral("C1"));
    connect(A1, &QAction::triggered, this, &TcltForm::A1Click);
    connect(C1, &QAction::triggered, this, &TcltForm::C1Click);
    connect(liTask, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu1->popup(liTask->viewport()->mapToGlobal(pos)); });
    connect(liTask, &QListWidget::currentRowChanged, this, [this] {
        if (!loading_)
            liTaskClick();
    });
    connect(liTask, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int row = liTask->row(item);
        if (row >= 0 && static_cast<std::size_t>(row) < tasks_.size())
            tasks_[static_cast<std::size_t>(row)].checked = item->checkState() == Qt::Checked;
        CheckMarksChanged();
    });
    edDesc = Named(new QPlainTextEdit(central), "edDesc");
    edDesc->setFixedWidth(140);
    edDesc->setFixedHeight(120);
    connect(edDesc, &QPlainTextEdit::textChanged, this, &TcltForm::StoreCurrentTask);

    // Delete removes a task only while the list has the focus: in a text
    // field the key belongs to the text.
    auto* deleteKey =
        new QShortcut(QKeySequence::Delete, liTask, nullptr, nullptr, Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, this, &TcltForm::DelBtnClick);

    rDragController1 = Named(new TrDragController(this), "rDragController1");
    rDragController1->setListBox(liTask);
    rDragController1->OnItemMove = [this](QListWidget*, int from, int to) { ItemMoved(from, to); };

    lbLastRun = Named(new QLabel(central), "lbLastRun");
    lbLastRun->setWordWrap(true);
    lbLastRun->setFixedWidth(140);
    lbLastRun->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A fixed room for the longest last run (five lines of Chinese at this
    // width, and one to spare): a run's text never makes the column taller
    // and the window scroll.
    lbLastRun->setFixedHeight(lbLastRun->fontMetrics().lineSpacing() * 6 + 4);

    auto* left = new QVBoxLayout;
    left->addWidget(Label1);
    left->addWidget(liTask, 1);
    left->addWidget(edDesc);
    left->addWidget(lbLastRun);

    // Right column: the current task's fields.
    Label6 = Named(new QLabel(central), "Label6");
    edName = Named(new QLineEdit(central), "edName");
    // No cut at 15 characters: the rulebook refuses a longer name and the
    // status line says so while it is typed.
    edName->installEventFilter(this);
    Label6->setBuddy(edName);
    connect(edName, &QLineEdit::textChanged, this, &TcltForm::StoreCurrentTask);
    btnAdv = SmallButton(central, "btnAdv");
    connect(btnAdv, &QPushButton::clicked, this, &TcltForm::btnAdvClick);

    Label5 = Named(new QLabel(central), "Label5");
    edType = Named(new QComboBox(central), "edType");
    Label5->setBuddy(edType);
    connect(edType, &QComboBox::activated, this, [this] { edTypeChange(); });
    chkIntoSub = Named(new QCheckBox(central), "chkIntoSub");
    connect(chkIntoSub, &QCheckBox::toggled, this, &TcltForm::StoreCurrentTask);

    Label2 = Named(new QLabel(central), "Label2");
    edMainDir = Named(new QLineEdit(central), "edMainDir");
    edMainDir->setMaxLength(512);
    Label2->setBuddy(edMainDir);
    connect(edMainDir, &QLineEdit::textChanged, this, &TcltForm::StoreCurrentTask);
    BrMain = SmallButton(central, "BrMain");
    connect(BrMain, &QPushButton::clicked, this, &TcltForm::BrMainClick);

    Label3 = Named(new QLabel(central), "Label3");
    edMirrorDir = Named(new QLineEdit(central), "edMirrorDir");
    edMirrorDir->setMaxLength(512);
    Label3->setBuddy(edMirrorDir);
    connect(edMirrorDir, &QLineEdit::textChanged, this, &TcltForm::StoreCurrentTask);
    BrMirror = SmallButton(central, "BrMirror");
    connect(BrMirror, &QPushButton::clicked, this, &TcltForm::BrMirrorClick);

    rdOnly = Named(new QRadioButton(central), "rdOnly");
    Label4 = Named(new QRadioButton(central), "Label4");
    Label4->setChecked(true);
    connect(rdOnly, &QRadioButton::toggled, this, &TcltForm::FolderModeClick);
    AddEx = SmallButton(central, "AddEx");
    DelEx = SmallButton(central, "DelEx");
    connect(AddEx, &QPushButton::clicked, this, &TcltForm::AddExClick);
    connect(DelEx, &QPushButton::clicked, this, &TcltForm::DelExClick);
    liExclude = Named(new QListWidget(central), "liExclude");
    liExclude->setFixedHeight(76);

    GroupBox1 = Named(new QGroupBox(central), "GroupBox1");
    auto* actions = new QFormLayout(GroupBox1);
    actions->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    actions->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    const char* listNames[6] = {"cbInMain",    "cbInMirror",    "cbSizeDiffer",
                                "cbNewInMain", "cbNewInMirror", "cbEmptyDir"};
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(GroupBox1);
        label->setObjectName(QStringLiteral("Label%1").arg(8 + i));
        auto* box = Named(new QComboBox(GroupBox1), listNames[i]);
        box->setMinimumWidth(150);
        // As wide as its longest action in the current language, also after
        // a change of language.
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        label->setBuddy(box);
        connect(box, &QComboBox::currentIndexChanged, this, &TcltForm::StoreCurrentTask);
        actions->addRow(label, box);
        actionLabels[static_cast<std::size_t>(i)] = label;
        actionLists_[static_cast<std::size_t>(i)] = box;
    }
    cbInMain = actionLists_[0];
    cbInMirror = actionLists_[1];
    cbSizeDiffer = actionLists_[2];
    cbNewInMain = actionLists_[3];
    cbNewInMirror = actionLists_[4];
    cbEmptyDir = actionLists_[5];

    auto* right = new QGridLayout;
    right->setHorizontalSpacing(6);
    right->setVerticalSpacing(4);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(Label6);
    nameRow->addWidget(edName, 1);
    nameRow->addSpacing(8);
    nameRow->addWidget(btnAdv);
    right->addLayout(nameRow, 0, 0, 1, 3);
    auto* typeRow = new QHBoxLayout;
    typeRow->addWidget(Label5);
    typeRow->addWidget(edType);
    typeRow->addSpacing(8);
    typeRow->addWidget(chkIntoSub, 1);
    right->addLayout(typeRow, 1, 0, 1, 3);
    right->addWidget(Label2, 2, 0, 1, 2, Qt::AlignBottom);
    right->addWidget(BrMain, 2, 2);
    right->addWidget(edMainDir, 3, 0, 1, 3);
    right->addWidget(Label3, 4, 0, 1, 2, Qt::AlignBottom);
    right->addWidget(BrMirror, 4, 2);
    right->addWidget(edMirrorDir, 5, 0, 1, 3);
    right->addWidget(rdOnly, 6, 0, 1, 3);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(Label4, 1);
    listRow->addWidget(AddEx);
    listRow->addWidget(DelEx);
    right->addLayout(listRow, 7, 0, 1, 3);
    right->addWidget(liExclude, 8, 0, 1, 3);
    right->addWidget(GroupBox1, 9, 0, 1, 3);
    right->setColumnStretch(1, 1);

    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(7, 4, 9, 4);
    columns->setSpacing(10);
    columns->addLayout(left);
    columns->addLayout(right, 1);

    StatusBar1 = Named(new QLabel(this), "StatusBar1");
    StatusBar1->installEventFilter(this);
    StatusBar1->setCursor(Qt::PointingHandCursor);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(StatusBar1, 1);

    SDirDlg = Named(new TSDirDlg(this), "SDirDlg");

    // The title's "*" follows the changed flag, which the schedule editor and
    // the dialogs set as well as this window: a light look four times a
    // second catches every one of them.
    auto* modifiedWatch = new QTimer(this);
    connect(modifiedWatch, &QTimer::timeout, this, &TcltForm::UpdateModifiedMark);
    modifiedWatch->start(250);
    statusNoteTimer_ = new QTimer(this);
    statusNoteTimer_->setSingleShot(true);
    connect(statusNoteTimer_, &QTimer::timeout, this, [this] { StatusBar1->setText(statusText_); });
}

void TcltForm::UpdateModifiedMark() {
    if (isWindowModified() != tasks_.changed())
        setWindowModified(tasks_.changed());
}

void TcltForm::ShowStatusNote(const QString& text) {
    if (!statusNoteTimer_->isActive())
        statusText_ = StatusBar1->text();
    StatusBar1->setText(text);
    statusNoteTimer_->start(kStatusNoteMs);
}

void TcltForm::setStatusText(const QString& text) {
    statusNoteTimer_->stop();
    statusText_ = text;
    StatusBar1->setText(text);
}

void TcltForm::ApplyTexts() {
    ApplyInterfaceFont(this);
    setWindowTitle(QMsg(0) + QStringLiteral("[*]"));
    TrayIcon1->SetHint(QMsg(0));
    Label1->setText(QMsg(1));
    NewBtn->setToolTip(QMsg(2));
    AddBtn->setToolTip(QMsg(114));
    DelBtn->setToolTip(QMsg(3));
    Label6->setText(QMsg(4));
    Label2->setText(QMsg(6));
    Label3->setText(QMsg(7));
    BrMain->setText(QMsg(8));
    BrMirror->setText(QMsg(8));
    chkIntoSub->setText(QMsg(9));
    Label4->setText(QMsg(10));
    rdOnly->setText(QMsg(121));
    AddEx->setText(QMsg(11));
    DelEx->setText(QMsg(12));
    GroupBox1->setTitle(QMsg(13));
    for (int i = 0; i < 6; ++i)
        actionLabels[static_cast<std::size_t>(i)]->setText(QMsg(14 + i));
    for (int i = 0; i < 4; ++i)
        ActionNames[static_cast<std::size_t>(i)] = Msg(20 + i);
    const bool wasLoading = loading_;
    loading_ = true;
    // Each list offers what the rulebook allows for its kind of difference,
    // named by entries 20 + the action.
    for (std::size_t i = 0; i < actionLists_.size(); ++i) {
        actionLists_[i]->clear();
        for (SyncAction a : rules::AllowedActions(rules::kDifferences[i]))
            actionLists_[i]->addItem(QMsg(20 + static_cast<int>(a)));
    }
    Label5->setText(QMsg(109));
    edType->clear();
    edType->addItem(QMsg(110));
    edType->addItem(QMsg(111));
    edType->setCurrentIndex(0);
    loading_ = wasLoading;
    GoSync->setToolTip(QMsg(24));
    ExitBtn->setToolTip(QMsg(25));
    AboutBtn->setToolTip(QMsg(39));
    btnAdv->setText(QMsg(103));
    A1->setText(QMsg(115));
    C1->setText(QMsg(116));
    btTask->setToolTip(QMsg(126));
    NewMenu->actions()[0]->setText(QMsg(262));
    NewMenu->actions()[1]->setText(QMsg(263));
    TrayOpen->setText(QMsg(248));
    TrayRun->setText(QMsg(249));
    TrayPause->setText(QMsg(250));
    TrayQuit->setText(QMsg(252));
    if (statusIsLink_)
        setStatusText(QUtf8(Msg(41) + "  " + Msg(43)));
    ShowCurrentTask();
    // Opens at the size the texts of this language need; smaller is allowed
    // (the fields then scroll), larger gains nothing. The layouts are
    // recomputed first: the new font and texts have only been posted to them,
    // and the old sizes would open a Chinese window at the English size.
    lbLastRun->setFixedHeight(lbLastRun->fontMetrics().lineSpacing() * 6 + 4);
    // The status line as tall as a line of Chinese, which a fallback font
    // draws taller than the interface font: a run's Chinese end line would
    // otherwise take height from the fields and make them scroll.
    const QFontMetrics statusMetrics = StatusBar1->fontMetrics();
    StatusBar1->setMinimumHeight(std::max(
        statusMetrics.height(),
        statusMetrics.boundingRect(QStringLiteral("Agjy_\u540c\u6b65\u5b8c\u6bd5")).height() + 2));
    for (QLayout* l : {fields_->layout(), statusBar()->layout(), layout()})
        if (l) {
            l->invalidate();
            l->activate();
        }
    const QSize natural = NaturalSize();
    setMinimumSize(kMinimumSize.boundedTo(natural));
    setMaximumSize(natural);
    resize(natural);
}

QSize TcltForm::NaturalSize() const {
    const QSize fields = fields_->sizeHint();
    // The status line's own minimum (a Chinese line) counts when it is more
    // than the bar's hint.
    const int status = std::max(statusBar()->sizeHint().height(),
                                StatusBar1->minimumHeight() + statusBar()->contentsMargins().top() +
                                    statusBar()->contentsMargins().bottom() + 4);
    return {fields.width(), fields.height() + ToolBar1->sizeHint().height() + status};
}

// --- the task list ---

void TcltForm::RefreshTaskList() {
    const bool wasLoading = loading_;
    loading_ = true;
    {
        const QSignalBlocker block(liTask);
        liTask->clear();
        for (const Task& t : tasks_.tasks()) {
            auto* item = new QListWidgetItem(QUtf8(t.name), liTask);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(t.checked ? Qt::Checked : Qt::Unchecked);
        }
        ClearListCurrent(liTask);
    }
    loading_ = wasLoading;
    CheckMarksChanged();
    ShowCurrentTask();
}

void TcltForm::liTaskClick() {
    ShowCurrentTask();
}

void TcltForm::selectRow(int row) {
    {
        const QSignalBlocker block(liTask);
        if (row < 0)
            ClearListCurrent(liTask);
        else
            liTask->setCurrentRow(row);
    }
    ShowCurrentTask();
}

void TcltForm::appendTask(std::string name, const TaskRecord& record) {
    auto* item = new QListWidgetItem(QUtf8(name));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    tasks_.append(std::move(name), record);
    {
        const QSignalBlocker block(liTask);
        liTask->addItem(item);
    }
    selectRow(liTask->count() - 1);
    tasks_.setChanged();
}

void TcltForm::NewBtnClick() {
    appendTask(NewTaskName(tasks_, Msg(26)), TaskRecord::MakeNew(Msg(76)));
}

void TcltForm::NewPresetClick(int preset) {
    appendTask(NewTaskName(tasks_, Msg(26)),
               MakePresetRecord(preset == 0 ? TaskPreset::Mirror : TaskPreset::TwoWay, Msg(76)));
}

void TcltForm::AddBtnClick() {
    if (current_ < 0) {
        ErrorBox(this, QMsg(123), QMsg(31));
        return;
    }
    const TaskRecord copy = tasks_[static_cast<std::size_t>(current_)].record;
    appendTask(NewTaskName(tasks_, Msg(26)), copy);
}

void TcltForm::DelBtnClick() {
    if (current_ < 0)
        return;
    const int row = current_;
    {
        const QSignalBlocker block(liTask);
        delete liTask->takeItem(row);
        ClearListCurrent(liTask);
    }
    tasks_.remove(static_cast<std::size_t>(row));
    ShowCurrentTask();
    tasks_.setChanged();
}

void TcltForm::ItemMoved(int from, int to) {
    if (from < 0 || to < 0 || static_cast<std::size_t>(from) >= tasks_.size() ||
        static_cast<std::size_t>(to) >= tasks_.size())
        return;
    tasks_.move(static_cast<std::size_t>(from), static_cast<std::size_t>(to));
    selectRow(to);
    tasks_.setChanged();
}

void TcltForm::CheckMarksChanged() {
    bool any = false;
    for (int i = 0; i < liTask->count() && !any; ++i)
        any = liTask->item(i)->checkState() == Qt::Checked;
    GoSync->setEnabled(any);
}

void TcltForm::A1Click() {
    if (liTask->count() == 0)
        return;
    for (int i = 0; i < liTask->count(); ++i)
        liTask->item(i)->setCheckState(Qt::Checked);
    GoSync->setEnabled(true);
}

void TcltForm::C1Click() {
    if (liTask->count() == 0)
        return;
    for (int i = 0; i < liTask->count(); ++i)
        liTask->item(i)->setCheckState(Qt::Unchecked);
    GoSync->setEnabled(false);
}

// --- showing and storing the current task ---

void TcltForm::setEditingEnabled(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             edName, edType, edDesc, edMainDir, edMirrorDir, chkIntoSub, liExclude, Label4, rdOnly,
             BrMain, BrMirror, AddEx, DelEx, btnAdv})
        w->setEnabled(on);
    for (QComboBox* box : actionLists_)
        box->setEnabled(on);
}

void TcltForm::showFields(const TaskFields& f) {
    edName->setText(QUtf8(f.name));
    edType->setCurrentIndex(f.type == SyncType::File ? 1 : 0);
    edDesc->setPlainText(QUtf8(f.description));
    edMainDir->setText(QUtf8(f.hostPath));
    edMirrorDir->setText(QUtf8(f.mirrorPath));
    chkIntoSub->setChecked(f.includeSubfolders);
    liExclude->clear();
    for (const std::string& line : f.folderList)
        liExclude->addItem(QUtf8(line));
    for (std::size_t i = 0; i < actionLists_.size(); ++i)
        actionLists_[i]->setCurrentIndex(
            actionLists_[i]->findText(QUtf8(ActionToText(f.actions[i], ActionNames))));
    if (f.onlyIncludeFolders)
        rdOnly->setChecked(true);
    else
        Label4->setChecked(true);
}

void TcltForm::ShowCurrentTask() {
    current_ = liTask->currentRow();
    if (current_ >= static_cast<int>(tasks_.size()))
        current_ = -1;
    loading_ = true;
    if (current_ < 0) {
        TaskFields empty;
        showFields(empty);
        setEditingEnabled(false);
        applyTypeLabels();
    } else {
        TaskFields f = FieldsOf(tasks_[static_cast<std::size_t>(current_)]);
        f.name = ToUtf8(liTask->item(current_)->text());
        showFields(f);
        setEditingEnabled(true);
        // A file task keeps its folder-only controls off, as a change of
        // type leaves them.
        applyTypeLabels();
    }
    loading_ = false;
    showLastRun();
}

TaskFields TcltForm::fieldsFromControls() const {
    TaskFields f;
    f.name = ToUtf8(edName->text());
    f.type = edType->currentIndex() == 1 ? SyncType::File : SyncType::Folder;
    f.description = ToUtf8(edDesc->toPlainText());
    for (std::size_t i = 0; i < actionLists_.size(); ++i)
        f.actions[i] = ActionFromText(ToUtf8(actionLists_[i]->currentText()), ActionNames);
    f.includeSubfolders = chkIntoSub->isChecked();
    f.hostPath = ToUtf8(edMainDir->text());
    f.mirrorPath = ToUtf8(edMirrorDir->text());
    for (int i = 0; i < liExclude->count(); ++i)
        f.folderList.push_back(ToUtf8(liExclude->item(i)->text()));
    f.onlyIncludeFolders = rdOnly->isChecked();
    return f;
}

void TcltForm::StoreCurrentTask() {
    if (loading_ || current_ < 0)
        return;
    const TaskFields f = fieldsFromControls();
    Task& task = tasks_[static_cast<std::size_t>(current_)];
    // A refused field (an empty or taken name, a path longer than the task
    // keeps) is not stored; the status line says why while it is typed.
    const std::string refusal = StoreFields(f, task, tasks_, static_cast<std::size_t>(current_));
    if (!refusal.empty() || showingRefusal_)
        setStatusText(QUtf8(refusal));
    showingRefusal_ = !refusal.empty();
    if (QListWidgetItem* item = liTask->item(current_); item && item->text() != QUtf8(task.name)) {
        const QSignalBlocker block(liTask);
        item->setText(QUtf8(task.name));
    }
    tasks_.setChanged();
}

void TcltForm::edNameExit() {
    if (current_ >= 0 && edName->isEnabled() && edName->text().isEmpty())
        edName->setFocus();
}

void TcltForm::FolderModeClick() {
    if (loading_ || current_ < 0)
        return;
    TaskRecord& r = tasks_[static_cast<std::size_t>(current_)].record;
    if (rdOnly->isChecked() != r.only_include_folders()) {
        r.set_only_include_folders(rdOnly->isChecked());
        tasks_.setChanged();
    }
}

void TcltForm::edTypeChange() {
    if (current_ < 0)
        return;
    Task& task = tasks_[static_cast<std::size_t>(current_)];
    const SyncType picked = edType->currentIndex() == 1 ? SyncType::File : SyncType::Folder;
    if (picked != task.record.sync_type()) {
        if (YesNoBox(this, QMsg(112), QMsg(72))) {
            {
                const bool wasLoading = loading_;
                loading_ = true;
                liExclude->clear();
                loading_ = wasLoading;
            }
            task.record.change_sync_type(picked);
            StoreCurrentTask();
        } else {
            const bool wasLoading = loading_;
            loading_ = true;
            edType->setCurrentIndex(task.record.sync_type() == SyncType::File ? 1 : 0);
            loading_ = wasLoading;
        }
    }
    applyTypeLabels();
}

void TcltForm::applyTypeLabels() {
    const bool file = edType->currentIndex() == 1;
    const bool editing = current_ >= 0;
    Label4->setText(QMsg(file ? 113 : 10));
    if (file) {
        Label4->setChecked(true);
        rdOnly->setEnabled(false);
        chkIntoSub->setChecked(false);
        chkIntoSub->setEnabled(false);
    } else {
        rdOnly->setEnabled(editing);
        chkIntoSub->setEnabled(editing);
    }
}

bool TcltForm::eventFilter(QObject* watched, QEvent* e) {
    if (watched == edName && e->type() == QEvent::FocusOut) {
        // Queued: the focus must have settled on its new owner first.
        QMetaObject::invokeMethod(this, &TcltForm::edNameExit, Qt::QueuedConnection);
    } else if (watched == StatusBar1 && e->type() == QEvent::MouseButtonRelease) {
        if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
            StatusBar1Click();
    }
    return QMainWindow::eventFilter(watched, e);
}

// --- folders and the folder list ---

void TcltForm::browse(QLineEdit* field, int caption) {
    std::string start = ToUtf8(field->text());
    ExpandPathMacros(start);
    SDirDlg->Caption = QMsg(caption);
    SDirDlg->Directory = QUtf8(start);
    if (SDirDlg->Execute(this))
        field->setText(SDirDlg->Directory);
}

void TcltForm::BrMainClick() {
    browse(edMainDir, 30);
}

void TcltForm::BrMirrorClick() {
    browse(edMirrorDir, 29);
}

bool TcltForm::foldCaseForLists() const {
    std::string host = ToUtf8(edMainDir->text());
    std::string mirror = ToUtf8(edMirrorDir->text());
    ExpandPathMacros(host);
    ExpandPathMacros(mirror);
    return (!host.empty() && FileSystemFoldsCase(host)) ||
           (!mirror.empty() && FileSystemFoldsCase(mirror));
}

void TcltForm::AddExClick() {
    if (current_ < 0)
        return;
    std::vector<std::string> lines;
    for (int i = 0; i < liExclude->count(); ++i)
        lines.push_back(ToUtf8(liExclude->item(i)->text()));
    const std::size_t before = lines.size();

    if (edType->currentIndex() == 1) {
        std::string folder = tasks_[static_cast<std::size_t>(current_)].record.host_path();
        ExpandPathMacros(folder);
        const QString chosen = ChooseFile ? ChooseFile(QUtf8(folder))
                                          : QFileDialog::getOpenFileName(this, {}, QUtf8(folder));
        if (chosen.isEmpty() || !AppendFileEntry(lines, ToUtf8(chosen), foldCaseForLists()))
            return;
    } else {
        if (!DirForm)
            return;
        DirForm->setDirDialog(SDirDlg);
        DirForm->setHostPath(ToUtf8(edMainDir->text()));
        if (DirForm->exec() != QDialog::Accepted)
            return;
        const FolderEntry entry =
            RelativeFolderEntry(ToUtf8(edMainDir->text()), ToUtf8(edMirrorDir->text()),
                                ToUtf8(DirForm->edDir->text()), foldCaseForLists());
        if (entry.result == FolderEntryResult::Outside) {
            ErrorBox(this, QMsg(35), QMsg(31));
            return;
        }
        if (entry.result == FolderEntryResult::WholeFolder) {
            ErrorBox(this, QMsg(36), QMsg(31));
            return;
        }
        if (AppendFolderEntry(lines, entry.entry) != FolderEntryResult::Ok) {
            ErrorBox(this, QMsg(37), QMsg(31));
            return;
        }
    }
    for (std::size_t i = before; i < lines.size(); ++i)
        liExclude->addItem(QUtf8(lines[i]));
    StoreCurrentTask();
}

void TcltForm::DelExClick() {
    QListWidgetItem* item = liExclude->currentItem();
    if (!item || !item->isSelected())
        return;
    delete item;
    StoreCurrentTask();
}

// --- tool buttons ---

void TcltForm::btnAdvClick() {
    if (current_ < 0 || !AdvForm)
        return;
    if (AdvForm->Execute(tasks_[static_cast<std::size_t>(current_)].record))
        tasks_.setChanged();
}

bool TcltForm::SaveTasks(std::string& error) {
    error.clear();
    switch (SaveConfigurationGuarded(ConfigPath, tasks_, ConfigKnown, false, error)) {
    case GuardedSaveStatus::Saved:
        return true;
    case GuardedSaveStatus::Failed:
        return false;
    case GuardedSaveStatus::Conflict:
        break;
    }
    // The question is asked without the lock held: a user who walks away
    // must not stop every other program from saving.
    if (!YesNoBox(this, QMsg(150), QMsg(72)))
        return false;
    return SaveConfigurationGuarded(ConfigPath, tasks_, ConfigKnown, true, error) ==
           GuardedSaveStatus::Saved;
}

void TcltForm::ToolButton1Click() {
    std::string error;
    if (!SaveTasks(error)) {
        if (!error.empty())
            ErrorBox(this, QUtf8(error), QMsg(31));
        return;
    }
    UpdateModifiedMark();
    ShowStatusNote(QMsg(188));
}

void TcltForm::btTaskClick() {
    if (ShowScheduleEditor)
        ShowScheduleEditor();
}

void TcltForm::AboutBtnClick() {
    if (AboutForm)
        AboutForm->exec();
}

void TcltForm::ExitBtnClick() {
    close();
}

void TcltForm::StatusBar1Click() {
    if (!statusIsLink_)
        return;
    const QUrl url(QUtf8(Msg(43)));
    if (OpenUrl)
        OpenUrl(url);
    else
        QDesktopServices::openUrl(url);
}

void TcltForm::ShowEndLine(const std::string& line) {
    statusIsLink_ = false;
    StatusBar1->unsetCursor();
    setStatusText(QUtf8(line));
}

// --- runs ---

void TcltForm::GoSyncClick() {
    if (running_)
        return;
    bool any = false;
    for (int i = 0; i < liTask->count() && !any; ++i)
        any = liTask->item(i)->checkState() == Qt::Checked;
    if (!any) {
        ErrorBox(this, QMsg(104), QMsg(31));
        return;
    }
    // The list cannot change meanwhile: the window is hidden during each run
    // and no other path edits it.
    for (int i = 0; i < liTask->count() && !EndRequested; ++i) {
        if (liTask->item(i)->checkState() != Qt::Checked)
            continue;
        // Go Sync shows each task as it runs; a command-line run leaves the
        // window as it is.
        if (!Flags.command_line_run)
            selectRow(i);
        const RunOutcome outcome = RunTaskAt(i);
        if (outcome != RunOutcome::Finished && outcome != RunOutcome::NothingToDo)
            lastRunsFailed_ = true;
        if (Flags.command_line_run && lastRunsFailed_)
            ExitCode = 1;
    }
    if (Flags.command_line_run)
        close();
    else if (!lastResultShown_)
        QApplication::beep();
}

RunOutcome TcltForm::RunSelectedTask() {
    return RunTaskAt(current_);
}

RunOutcome TcltForm::RunTaskAt(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= tasks_.size() || running_ || !SyncForm ||
        EndRequested)
        return RunOutcome::NotRun;
    running_ = true;
    auto run = std::make_unique<RunContext>();
    const Task& task = tasks_[static_cast<std::size_t>(row)];
    run->TaskName = task.name;
    run->Task = task.record;
    run->Start = ScheduledRun             ? RunStart::Schedule
                 : Flags.command_line_run ? RunStart::CommandLine
                                          : RunStart::Window;
    run->SkipMirrorScan = Flags.skip_mirror_scan;
    run->Lines = &Results;
    run->Ui = SyncForm;
    const std::size_t firstLine = Results.Lines().size();

    ShareConnector own;
    ShareConnector& shares = Shares ? *Shares : own;
    const GateVerdict verdict = PassGate(*run, shares);
    if (verdict == GateVerdict::Ready) {
        const RunInProgressScope marker;
        const bool wasVisible = isVisible();
        hide();
        SyncForm->Execute(*run);
        if (minimiseAfterRun_) {
            minimiseAfterRun_ = false;
            showMinimized();
        } else if (wasVisible) {
            show();
        }
        lastResultShown_ = run->ResultShown;
        if (run->Plan.FailedCount != 0)
            lastRunsFailed_ = true;
    } else if (verdict == GateVerdict::Unreachable) {
        run->Outcome = RunOutcome::Unreachable;
    }
    // The end line comes after every box of the run (a failed disconnect's
    // among them), never while one is still open.
    if (verdict != GateVerdict::Refused || shares.Connected())
        LeaveGate(*run, shares);
    if (!run->EndLine.empty())
        ShowEndLine(run->EndLine);
    LastReport = ReportOf(*run);
    afterRun(*run, firstLine);
    running_ = false;
    return run->Outcome;
}

std::string TcltForm::StartedByLine(const RunContext& run, const std::string& schedule) {
    return StartedByText(run.Start, run.Task.auto_mode(), schedule);
}

// The run's block goes to the log now, not at the program's end: a program
// that sits in the tray for weeks, or ends badly, keeps every result. A run
// refused before its first line (a window run's refusal, a share that did
// not connect) gets the block a quiet refusal leaves.
void TcltForm::afterRun(const RunContext& run, std::size_t firstLine) {
    const std::vector<std::string>& all = Results.Lines();
    std::vector<std::string> block{StartedByLine(run, ScheduleName)};
    if (all.size() > firstLine) {
        block.insert(block.end(), all.begin() + static_cast<std::ptrdiff_t>(firstLine), all.end());
    } else if (!run.RefusedLine.empty()) {
        block.push_back(TimeStampText(run.now()));
        block.push_back(Msg(46) + run.TaskName);
        block.push_back(run.RefusedLine);
        block.push_back(SeparatorLine());
    }
    if (!LogPath.empty() && block.size() > 1) {
        std::string error;
        if (AppendLogBlock(LogPath, block, error, ConfigLockPath(ConfigPath)) !=
            LogStatus::CannotRead)
            loggedLines_ = all.size();
    }

    LastRun& last = lastRuns_[run.TaskName];
    last.When = std::time(nullptr);
    last.Report = LastReport;
    if (run.Start != RunStart::Window) {
        lastUnattendedName_ = run.TaskName;
        // Nobody watched this run: a failure is told by the tray, not a box,
        // and the icon stays marked until the window is opened.
        if (!LastReport.Succeeded() && LastReport.Outcome != RunOutcome::NotRun && !isVisible()) {
            trayError_ = true;
            if (ShowBalloon)
                ShowBalloon(QMsg(0), QMsg(265).arg(QUtf8(run.TaskName + ": " + LastReport.Line)));
        }
    }
    showLastRun();
    UpdateTrayStatus();
}

std::vector<std::string> TcltForm::UnloggedLines() const {
    const std::vector<std::string>& all = Results.Lines();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(loggedLines_, all.size())),
            all.end()};
}

const TcltForm::LastRun* TcltForm::LastRunOf(const std::string& name) const {
    const auto it = lastRuns_.find(name);
    return it == lastRuns_.end() ? nullptr : &it->second;
}

QString TcltForm::LastRunText(const LastRun& last) {
    const RunReport& r = last.Report;
    QString text = QMsg(244).arg(QUtf8(TimeStampText(last.When)), QUtf8(r.Line)) +
                   QStringLiteral("\n") +
                   QMsg(245).arg(QString::number(r.CopiedToMirror + r.CopiedToHost),
                                 QString::number(r.DeletedInHost + r.DeletedInMirror),
                                 QString::number(r.Moved), QString::number(r.Failed));
    // Conflicts only when the run met some: a task without memory never does.
    if (r.ConflictsKept + r.ConflictsSkipped > 0)
        text += QStringLiteral("\n") + QMsg(281).arg(QString::number(r.ConflictsKept),
                                                     QString::number(r.ConflictsSkipped));
    return text;
}

// Each task's mark in the list, its tip, and the current task's last run
// under the description.
void TcltForm::showLastRun() {
    for (int i = 0; i < liTask->count() && static_cast<std::size_t>(i) < tasks_.size(); ++i) {
        QListWidgetItem* item = liTask->item(i);
        const LastRun* last = LastRunOf(tasks_[static_cast<std::size_t>(i)].name);
        const QSignalBlocker block(liTask);
        item->setIcon(last ? OutcomeMark(last->Report.Succeeded()) : QIcon());
        item->setToolTip(last ? LastRunText(*last) : QString());
    }
    const LastRun* current =
        current_ >= 0 ? LastRunOf(tasks_[static_cast<std::size_t>(current_)].name) : nullptr;
    lbLastRun->setText(current ? LastRunText(*current) : current_ >= 0 ? QMsg(246) : QString());
}

void TcltForm::UpdateTrayStatus() {
    QString tip = QMsg(0);
    if (const LastRun* last = LastRunOf(lastUnattendedName_))
        tip += QStringLiteral("\n") + QUtf8(lastUnattendedName_) + QStringLiteral(": ") +
               LastRunText(*last);
    if (SchedulesPaused && SchedulesPaused())
        tip += QStringLiteral("\n") + QMsg(266);
    else if (const std::string next = NextScheduledRun ? NextScheduledRun() : std::string();
             !next.empty())
        tip += QStringLiteral("\n") + QMsg(247).arg(QUtf8(next));
    TrayIcon1->SetStatusTip(tip);
    static const QIcon normal(QStringLiteral(":/icons/duplora.svg"));
    static const QIcon failed = ErrorTrayIcon();
    TrayIcon1->SetIcon(trayError_ ? failed : normal);
}

void TcltForm::OnGoSync() {
    GoSyncClick();
}

void TcltForm::OnDoSchedule() {
    if (DoSchedule)
        DoSchedule();
}

void TcltForm::OnMiniToTray() {
    // During a run the window is hidden; showing it minimised now would
    // bring it back before the run has ended.
    if (running_) {
        minimiseAfterRun_ = true;
        return;
    }
    showMinimized();
    // The state change may already have hidden it; a second call finds the
    // icon active and adds no other.
    HideToTray();
}

void TcltForm::HideToTray() {
    if (!isMinimized() || running_ || !TrayAvailable || !TrayAvailable())
        return;
    TrayIcon1->SetActive(true);
    hide();
}

void TcltForm::TrayIcon1Click() {
    trayError_ = false;
    UpdateTrayStatus();
    TrayIcon1->SetActive(false);
    showNormal();
    raise();
    activateWindow();
}

void TcltForm::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    // Hidden once the state change is over: hiding inside it confuses some
    // window managers about the window's state.
    if (e->type() == QEvent::WindowStateChange && isMinimized())
        QMetaObject::invokeMethod(this, &TcltForm::HideToTray, Qt::QueuedConnection);
}

bool TcltForm::event(QEvent* e) {
    switch (static_cast<int>(e->type())) {
    case kGoSyncEvent:
        OnGoSync();
        return true;
    case kDoScheduleEvent:
        OnDoSchedule();
        return true;
    case kMiniToTrayEvent:
        OnMiniToTray();
        return true;
    default:
        return QMainWindow::event(e);
    }
}

void TcltForm::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (firstShown_)
        return;
    firstShown_ = true;
    if (OnFirstShow)
        OnFirstShow();
}

void TcltForm::closeEvent(QCloseEvent* e) {
    if (running_) {
        e->ignore();
        return;
    }
    if (closedForGood_) {
        e->accept();
        return;
    }
    if (CloseRequested && !CloseRequested()) {
        e->ignore();
        return;
    }
    closedForGood_ = true;
    e->accept();
    QMainWindow::closeEvent(e);
    if (OnClosed)
        QMetaObject::invokeMethod(
            this, [this] { OnClosed(); }, Qt::QueuedConnection);
}

} // namespace duplora

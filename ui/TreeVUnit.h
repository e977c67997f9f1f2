#pragma once
// TTreeVForm: the preview window. It shows a run's plan before anything is
// copied or deleted: the merged folder tree on the left, the files of the
// selected folder on the right (host and mirror side by side), the counts in
// the status bar. Ticking a file or clicking its operation icon changes the
// plan's entries and counters at once, so execution does exactly what the
// window left.
//
//   shown ── event 1123 ── tree built (progress every 64 folders; a button
//   pressed meanwhile stops it) ── browsing ── Sync (Tag 1) / Cancel (Tag -1)
//   / close box (Tag 0) ── cleared
//
// Other windows use ShowPreviewWindow() (or TTreeVForm::Preview()).

#include "sync/plan/DeleteGuard.h"
#include "sync/plan/PreviewOps.h"
#include "tasks/TaskRecord.h"

#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <QDialog>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

#include <array>

#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QStatusBar;
class QToolButton;

namespace duplora {

struct RunContext;
class SyncPlan;
class TTreeVForm;

// Shows the plan of `run` modally in a preview window; true when the user
// pressed Sync. Entries switched off are left at 4..6 and changed ones at
// their new operation, with the plan's counters in step.
bool ShowPreviewWindow(SyncPlan& plan, const RunContext& run, QWidget* parent = nullptr);

// The delete-guard panel of one side: "Mirror: 1,204 of 3,010 files deleted
// (40%)" (texts 210, 211), the share shown as SideLoss::PercentText(limit).
std::string GuardPanelText(const SideLoss& side, bool mirror, int limit);
// A row whose action deletes a file that exists on one side only.
bool DeletesOnlyCopy(const TPreviewRow& row);
// The text number of the action cell's tip (what the run will do).
int ActionTipText(const TPreviewRow& row);

// The kinds a task that remembers its last run adds, in the groups the
// preview's filter buttons show: deletions remembered on either side,
// conflicts (changed on both sides), and a change on one side against a
// deletion on the other.
enum class KindFilter : int { None = 0, RememberedDeletes = 1, Conflicts = 2, ChangedDeleted = 3 };
inline constexpr int kKindFilters = 3;
// The row's remembered kind: its host entry's, else its mirror entry's.
Remembered RowRemembered(const SyncPlan& plan, const TPreviewRow& row);
KindFilter FilterOf(Remembered kind);
// The picture of a remembered kind ("REMDEL", "CONFLICT", "CHGDEL"), or "".
const char* RememberedImage(Remembered kind);
// The rows of `rows` whose kind is in `filter`'s group (all for None).
std::vector<TPreviewRow> FilterRows(const SyncPlan& plan, std::vector<TPreviewRow> rows,
                                    KindFilter filter);
// Why the row has its operation, in words ("deleted in the host since
// 2026-12-08 14:03"); "" for a row the comparison without memory decided.
std::string RowReason(const SyncPlan& plan, const TPreviewRow& row);

// A picture of the preview by name ("CHECK4", "TFOLDER", ...), drawn from
// the compiled-in SVG at the device pixel ratio so it stays sharp at 200 %.
// Null for an unknown name.
QPixmap PreviewImage(const QString& name, qreal dpr = 1.0);

// The folder tree as a model: one column, node index in internalId().
class TFolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    using QAbstractItemModel::QAbstractItemModel;
    void SetTree(const TFolderTree* tree);
    const TFolderTree* Tree() const { return tree_; }
    QModelIndex IndexOf(int node) const;
    int NodeOf(const QModelIndex& index) const; // -1 for none

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    const TFolderTree* tree_ = nullptr;
};

// The rows of the listed folder as a model. Besides the texts it answers
// Qt::ForegroundRole (the unselected text colour), kOpRole (the row
// operation) and kImageRole (the picture of columns 0 and 3).
class TPreviewGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kOpRole = Qt::UserRole;
    static constexpr int kImageRole = Qt::UserRole + 1;
    // Column 0: the picture of the row's remembered kind, drawn after the
    // tick box ("" for none).
    static constexpr int kKindImageRole = Qt::UserRole + 2;

    using QAbstractTableModel::QAbstractTableModel;
    void SetRows(const std::vector<TPreviewRow>* rows);
    // The plan the rows point into, for the other path of a move's row.
    void SetPlan(const SyncPlan* plan) { plan_ = plan; }
    void RowChanged(int row);
    void AllChanged();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const std::vector<TPreviewRow>* rows_ = nullptr;
    const SyncPlan* plan_ = nullptr;
};

// Draws every node itself: connector lines, expand button, the host and
// mirror folder pictures and the delete mark in a 39-pixel slot, the label.
class TFolderTreeView : public QTreeView {
    Q_OBJECT
public:
    static constexpr int kIndent = 42;
    explicit TFolderTreeView(QWidget* parent = nullptr);
    // The expand button of a node, in viewport coordinates.
    QRect ExpandButtonRect(const QModelIndex& index) const;
    // Width the expanded nodes' labels need, indent and pictures included.
    int LabelsWidth() const { return sizeHintForColumn(0); }

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
    void mousePressEvent(QMouseEvent* event) override;
};

// The file grid: presses, double clicks and the space key go to the form.
class TPreviewGrid : public QTableView {
    Q_OBJECT
public:
    explicit TPreviewGrid(TTreeVForm* form, QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TTreeVForm* form_;
};

class TTreeVForm : public QDialog {
    Q_OBJECT
public:
    // The posted event that builds the tree once the window is on screen.
    static constexpr int kAddTreeNodesEvent = 1024 + 99;

    explicit TTreeVForm(QWidget* parent = nullptr);
    ~TTreeVForm() override;

    void ApplyTexts();

    // The plan to show (not owned), the two roots of the run and its
    // empty-folder action. Call before showing.
    // `deleteLimit` (per cent, 0 = none) colours the guard panels;
    // `mirrorScanned` false (-C) counts nothing of the mirror as replaced.
    void SetPlan(SyncPlan* plan, std::string hostRoot, std::string mirrorRoot,
                 SyncAction emptyFolderAction, int deleteLimit = 0, bool mirrorScanned = true);
    // Tag := 0, shows the window modally for this run's plan and returns
    // Tag >= 1 (Sync pressed). The plan is released when the window closes.
    bool Preview(SyncPlan& plan, const RunContext& run);

    // 1 Sync, -1 Cancel, 0 closed otherwise.
    int Tag = 0;
    // "Hide rows without an operation": kept from one preview to the next.
    static inline bool HideEqual = false;
    int LastDirectionRow = -1;

    QWidget* Panel2 = nullptr;
    QLabel* Label1 = nullptr;
    TFolderTreeView* TreeV = nullptr;
    QSplitter* Splitter1 = nullptr;
    TPreviewGrid* ListV = nullptr;
    QWidget* Panel1 = nullptr;
    QPushButton* btnSync = nullptr;
    QPushButton* btnCancel = nullptr;
    QToolButton* btnShowAll = nullptr;
    QToolButton* btnHideEqu = nullptr;
    // Only the rows of one group of remembered kinds (KindFilter 1..3);
    // shown for a plan made with the memory of the last run. Pressing one
    // again shows every row; a folder without such rows gives way to the
    // first folder that has some.
    std::array<QToolButton*, kKindFilters> btnKinds{};
    KindFilter Filter() const { return filter_; }
    QStatusBar* StatusBar1 = nullptr;
    QStatusBar* GuardBar = nullptr; // Panel5 and Panel6
    // 0..3 counts, 4 moves (only for a plan that has any), 5 and 6 the share
    // of the host's and the mirror's files the run deletes or replaces, red
    // above the task's delete limit.
    static constexpr int kPanelCount = 7;
    QLabel* Panels[kPanelCount] = {};
    QMenu* PopupMenu1 = nullptr;
    QAction* pmAll = nullptr;
    QAction* pmClear = nullptr;
    // The explicit choices for the selected rows: copy to the mirror, copy
    // to the host, delete, leave as it is.
    std::array<QAction*, 4> pmChoice{};

    TFolderTreeModel* TreeModel() const { return treeModel_; }
    TPreviewGridModel* GridModel() const { return gridModel_; }
    const TFolderTree& Tree() const { return tree_; }
    const std::vector<TPreviewRow>& Rows() const { return rows_; }
    bool TreeBuilt() const { return built_; }

    // Handlers.
    void FormShow();
    void OnAddTreeNodes();
    void TreeVChange();
    void ListVMouseDown(Qt::MouseButton button, const QPoint& viewportPos);
    void ListVKeyPress(QChar key);
    void pmAllClick();
    void pmClearClick();
    // Gives every selected row the operation `choice` (the index into
    // pmChoice) where the row allows it: a copy needs the file it copies.
    void ChooseForSelected(int choice);
    void fitRowHeight();
    void btnShowAllClick();
    void btnHideEquClick();
    void btnKindClick(KindFilter filter);
    void btnSyncClick();
    void btnCancelClick();
    void FormClose();
    void WriteStatusBar();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

public slots:
    void done(int r) override;

private:
    static constexpr int kMinTreeWidth = 150;
    int gridWidthNeeded() const;
    void fitNameColumn();
    void fitPanes();
    // Gives the grid's free width to the name column, which holds the long
    // "moved from ..." notes; never narrower than nameWidth_.
    void stretchNameColumn();
    friend class TPreviewGrid;
    int nameWidth_ = 0; // the name column as fitted to the names or dragged
    bool stretching_ = false;
    TFolderTreeModel* treeModel_ = nullptr;
    TPreviewGridModel* gridModel_ = nullptr;
    QTimer changeTimer_; // the selection change is acted on 50 ms later
    TFolderTree tree_;
    std::vector<TPreviewRow> rows_;
    SyncPlan* plan_ = nullptr;
    std::string hostRoot_;
    std::string mirrorRoot_;
    SyncAction emptyAction_ = SyncAction::Ignore;
    int deleteLimit_ = 0;
    bool mirrorScanned_ = true;
    KindFilter filter_ = KindFilter::None;
    // The first folder in tree order with a row of `filter`'s group, or -1.
    int firstFolderWith(KindFilter filter) const;
    bool building_ = false;
    bool built_ = false;
    bool closed_ = false;
};

} // namespace duplora

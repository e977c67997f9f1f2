#include "ui/TreeVUnit.h"

#include "sync/memory/Remember.h"
#include "sync/plan/SyncPlan.h"
#include "sync/run/RunContext.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"
#include "ui/MessageBoxes.h"
#include "ui/ScreenFit.h"
#include "ui/WidgetTexts.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QSvgRenderer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

// Q_INIT_RESOURCE names a function in the global namespace.
static void initPreviewQrc() {
    Q_INIT_RESOURCE(preview);
}

namespace duplora {

namespace {

// Grid columns: width at first, header entry (0: a picture).
constexpr int kColumnWidth[6] = {177, 71, 112, 21, 113, 73};
constexpr int kColumnHeader[6] = {79, 89, 90, 0, 81, 80};
constexpr int kTreeRowHeight = 18; // 16-pixel pictures and a line of text
constexpr int kImageSlot = 39;     // host picture, delete mark, mirror picture

QColor ToQColor(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

// The bottom bar places its buttons itself: Sync and Cancel keep their
// horizontal place in proportion to the width, the two filter buttons keep
// their distance from the right edge.
class TButtonBar : public QWidget {
public:
    using QWidget::QWidget;
    std::function<void(int width)> onResize;

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (onResize)
            onResize(width());
    }
};

// Paints one grid cell: background, picture, text in the row's colour.
class TGridCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        p->save();
        const QRect r = option.rect;
        const bool selected = option.state & QStyle::State_Selected;
        // A delete of the only copy has its own background and bold text.
        const QVariant background = index.data(Qt::BackgroundRole);
        p->fillRect(r, selected ? option.palette.brush(QPalette::Active, QPalette::Highlight)
                       : background.isValid() ? QBrush(background.value<QColor>())
                                              : option.palette.brush(QPalette::Base));
        if (index.data(Qt::FontRole).isValid()) {
            QFont bold = option.font;
            bold.setBold(true);
            p->setFont(bold);
        }
        const auto op = static_cast<TSyncOp>(index.data(TPreviewGridModel::kOpRole).toInt());
        const QString image = index.data(TPreviewGridModel::kImageRole).toString();
        const qreal dpr = p->device() ? p->device()->devicePixelRatioF() : 1.0;
        if (!image.isEmpty())
            p->drawPixmap(r.left() + 1, r.top(), PreviewImage(image, dpr));
        // A remembered row's kind stands between the tick box and the name.
        const QString kind = index.column() == 0
                                 ? index.data(TPreviewGridModel::kKindImageRole).toString()
                                 : QString();
        if (!kind.isEmpty())
            p->drawPixmap(r.left() + 19, r.top(), PreviewImage(kind, dpr));
        const QString text = index.data(Qt::DisplayRole).toString();
        if (!text.isEmpty()) {
            p->setClipRect(r.adjusted(2, 0, -2, 0));
            p->setPen(ToQColor(RowTextColour(op, selected)));
            const int column = index.column();
            QRect tr = r.adjusted(2, 0, -2, 0);
            int align = Qt::AlignLeft;
            if (column == 0)
                tr.setLeft(r.left() + (kind.isEmpty() ? 18 : 36) + 2);
            else if (column == 1 || column == 5)
                align = Qt::AlignRight;
            p->drawText(tr, align | Qt::AlignVCenter | Qt::TextSingleLine, text);
        }
        p->restore();
    }
};

// Tree rows are all one height; the width covers the picture slot and label.
class TTreeItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const int text = option.fontMetrics.horizontalAdvance(index.data().toString());
        // Tall enough for a Chinese label's fallback font too.
        const int tallest =
            option.fontMetrics.boundingRect(QStringLiteral("Agjy_\u56fd\u8a9e")).height() + 2;
        return {kImageSlot + 3 + text + 6,
                std::max({kTreeRowHeight, option.fontMetrics.height(), tallest})};
    }
};

} // namespace

Remembered RowRemembered(const SyncPlan& plan, const TPreviewRow& row) {
    const Remembered host = row.Host ? plan.RememberedOf(*row.Host, true) : Remembered::None;
    if (host != Remembered::None || !row.Mirror)
        return host;
    return plan.RememberedOf(*row.Mirror, false);
}

KindFilter FilterOf(Remembered kind) {
    switch (kind) {
    case Remembered::DeletedInHost:
    case Remembered::DeletedInMirror:
        return KindFilter::RememberedDeletes;
    case Remembered::ChangedOnBoth:
        return KindFilter::Conflicts;
    case Remembered::ChangedDeletedInMirror:
    case Remembered::ChangedDeletedInHost:
        return KindFilter::ChangedDeleted;
    case Remembered::None:
        break;
    }
    return KindFilter::None;
}

const char* RememberedImage(Remembered kind) {
    switch (FilterOf(kind)) {
    case KindFilter::RememberedDeletes:
        return "REMDEL";
    case KindFilter::Conflicts:
        return "CONFLICT";
    case KindFilter::ChangedDeleted:
        return "CHGDEL";
    case KindFilter::None:
        break;
    }
    return "";
}

std::vector<TPreviewRow> FilterRows(const SyncPlan& plan, std::vector<TPreviewRow> rows,
                                    KindFilter filter) {
    if (filter != KindFilter::None)
        std::erase_if(rows, [&](const TPreviewRow& row) {
            return FilterOf(RowRemembered(plan, row)) != filter;
        });
    return rows;
}

std::string RowReason(const SyncPlan& plan, const TPreviewRow& row) {
    return RememberedReason(RowRemembered(plan, row), plan.RememberedSince);
}

QPixmap PreviewImage(const QString& name, qreal dpr) {
    static const bool registered = (initPreviewQrc(), true);
    (void)registered;
    static QHash<QString, QPixmap> cache;
    if (dpr <= 0)
        dpr = 1.0;
    const QString key = name + QLatin1Char('@') + QString::number(dpr);
    if (const auto it = cache.constFind(key); it != cache.constEnd())
        return *it;
    const QString file = QStringLiteral(":/preview/") + name + QStringLiteral(".svg");
    QPixmap pm;
    QSvgRenderer svg;
    if (QFile::exists(file) && svg.load(file)) {
        const QSize size = svg.defaultSize();
        pm = QPixmap(QSize(static_cast<int>(std::ceil(size.width() * dpr)),
                           static_cast<int>(std::ceil(size.height() * dpr))));
        pm.fill(Qt::transparent);
        QPainter painter(&pm);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        pm.setDevicePixelRatio(dpr);
    }
    cache.insert(key, pm);
    return pm;
}

// ---------------------------------------------------------------------------
// TFolderTreeModel

void TFolderTreeModel::SetTree(const TFolderTree* tree) {
    beginResetModel();
    tree_ = (tree && !tree->Nodes.empty()) ? tree : nullptr;
    endResetModel();
}

QModelIndex TFolderTreeModel::IndexOf(int node) const {
    if (!tree_ || node < 0 || node >= static_cast<int>(tree_->Nodes.size()))
        return {};
    return createIndex(tree_->Nodes[static_cast<std::size_t>(node)].Row, 0,
                       static_cast<quintptr>(node));
}

int TFolderTreeModel::NodeOf(const QModelIndex& index) const {
    if (!tree_ || !index.isValid() || index.model() != this)
        return -1;
    return static_cast<int>(index.internalId());
}

QModelIndex TFolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (!tree_ || column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row == 0 ? createIndex(0, 0, quintptr(0)) : QModelIndex();
    const TFolderNode& p = tree_->Nodes[static_cast<std::size_t>(parent.internalId())];
    if (row >= static_cast<int>(p.Children.size()))
        return {};
    return createIndex(row, 0, static_cast<quintptr>(p.Children[static_cast<std::size_t>(row)]));
}

QModelIndex TFolderTreeModel::parent(const QModelIndex& child) const {
    const int node = NodeOf(child);
    if (node < 0)
        return {};
    return IndexOf(tree_->Nodes[static_cast<std::size_t>(node)].Parent);
}

int TFolderTreeModel::rowCount(const QModelIndex& parent) const {
    if (!tree_)
        return 0;
    if (!parent.isValid())
        return 1;
    if (parent.column() != 0)
        return 0;
    return static_cast<int>(
        tree_->Nodes[static_cast<std::size_t>(parent.internalId())].Children.size());
}

int TFolderTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant TFolderTreeModel::data(const QModelIndex& index, int role) const {
    const int node = NodeOf(index);
    if (node < 0)
        return {};
    const TFolderNode& n = tree_->Nodes[static_cast<std::size_t>(node)];
    if (role == Qt::DisplayRole)
        return QUtf8(n.Label);
    if (role == Qt::UserRole)
        return static_cast<int>(n.Flags);
    return {};
}

// ---------------------------------------------------------------------------
// TPreviewGridModel

void TPreviewGridModel::SetRows(const std::vector<TPreviewRow>* rows) {
    beginResetModel();
    rows_ = rows;
    endResetModel();
}

void TPreviewGridModel::RowChanged(int row) {
    if (row >= 0 && row < rowCount())
        emit dataChanged(index(row, 0), index(row, 5));
}

void TPreviewGridModel::AllChanged() {
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, 5));
}

int TPreviewGridModel::rowCount(const QModelIndex& parent) const {
    return (parent.isValid() || !rows_) ? 0 : static_cast<int>(rows_->size());
}

int TPreviewGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 6;
}

bool DeletesOnlyCopy(const TPreviewRow& row) {
    return RowOp(row) == opDelete && (row.Host == nullptr) != (row.Mirror == nullptr);
}

// The action cell's tip: what a run will do with the row, in words.
int ActionTipText(const TPreviewRow& row) {
    const bool fromHost = row.Host != nullptr;
    switch (RowOp(row)) {
    case opToMirror:
        return 253;
    case opToHost:
        return 254;
    case opDelete:
        if (DeletesOnlyCopy(row))
            return fromHost ? 257 : 258;
        return fromHost ? 255 : 256;
    case opMoveFrom:
    case opMoveTo:
        return 225;
    default:
        return 259;
    }
}

QVariant TPreviewGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !rows_ || index.row() >= static_cast<int>(rows_->size()))
        return {};
    const TPreviewRow& row = (*rows_)[static_cast<std::size_t>(index.row())];
    const TSyncOp op = RowOp(row);
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case 0: {
            std::string note = plan_ ? MoveNote(*plan_, row) : std::string();
            if (note.empty() && plan_)
                note = RowReason(*plan_, row);
            if (note.empty())
                return QUtf8(RowName(row));
            return QUtf8(RowName(row)) + QStringLiteral("  (") + QUtf8(note) + QLatin1Char(')');
        }
        case 1:
            return row.Host ? QUtf8(ShortSizeText(row.Host->Size)) : QString();
        case 2:
            return row.Host ? QUtf8(AgeText(row.Host->Age)) : QString();
        case 4:
            return row.Mirror ? QUtf8(AgeText(row.Mirror->Age)) : QString();
        case 5:
            return row.Mirror ? QUtf8(ShortSizeText(row.Mirror->Size)) : QString();
        default:
            return QString();
        }
    case Qt::ForegroundRole:
        return ToQColor(RowTextColour(op, false));
    case Qt::ToolTipRole:
        if (column == 3)
            return QMsg(ActionTipText(row));
        // The name with its "moved from ..." note, which a narrow column cuts.
        if (column == 0)
            return data(index, Qt::DisplayRole);
        return {};
    case Qt::FontRole:
        // A delete of a file that exists on one side only: the last copy.
        // The name is bold; the times and sizes keep their width.
        if ((column == 0 || column == 3) && DeletesOnlyCopy(row)) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    case Qt::BackgroundRole:
        if (DeletesOnlyCopy(row))
            return QColor(255, 224, 224);
        return {};
    case Qt::TextAlignmentRole:
        if (column == 1 || column == 5)
            return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
        if (column == 3)
            return static_cast<int>(Qt::AlignCenter);
        return static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter);
    case kOpRole:
        return static_cast<int>(op);
    case kImageRole:
        if (column == 0)
            return QString::fromLatin1(TickImage(op));
        if (column == 3)
            return QString::fromLatin1(OpImage(op));
        return QString();
    case kKindImageRole:
        if (column == 0 && plan_)
            return QString::fromLatin1(RememberedImage(RowRemembered(*plan_, row)));
        return QString();
    default:
        return {};
    }
}

QVariant TPreviewGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section > 5)
        return {};
    if (role == Qt::DisplayRole)
        return kColumnHeader[section] ? QMsg(kColumnHeader[section]) : QString();
    if (role == Qt::DecorationRole && section == 3)
        return PreviewImage(QStringLiteral("EQU4"), qApp ? qApp->devicePixelRatio() : 1.0);
    if (role == Qt::TextAlignmentRole)
        return static_cast<int>((section == 1 || section == 5 ? Qt::AlignRight : Qt::AlignLeft) |
                                Qt::AlignVCenter);
    if (role == Qt::ForegroundRole)
        return QApplication::palette().color(QPalette::WindowText);
    return {};
}

// ---------------------------------------------------------------------------
// TFolderTreeView

TFolderTreeView::TFolderTreeView(QWidget* parent) : QTreeView(parent) {
    setIndentation(kIndent);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setHeaderHidden(true);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setItemDelegate(new TTreeItemDelegate(this));
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The selection stays visible when the tree loses the focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);
}

QRect TFolderTreeView::ExpandButtonRect(const QModelIndex& index) const {
    const QRect vr = visualRect(index);
    const int L = vr.left() + kIndent;
    const int M = (vr.top() + vr.bottom()) / 2;
    return {L - 69, M - 4, 9, 9};
}

// L is the left of the label, T/B its top and bottom, M the middle. From L
// leftwards: the 39-pixel picture slot (host at L-42, delete mark at L-26,
// mirror at L-19), the connector from L-65, the expand button at L-69, and
// one indent (42) further left per ancestor.
void TFolderTreeView::drawRow(QPainter* p, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const auto* m = static_cast<const TFolderTreeModel*>(model());
    const int node = m ? m->NodeOf(index) : -1;
    if (node < 0)
        return;
    const TFolderTree& tree = *m->Tree();
    const TFolderNode& n = tree.Nodes[static_cast<std::size_t>(node)];
    auto hasNextSibling = [&tree](const TFolderNode& x) {
        if (x.Parent < 0)
            return false;
        return x.Row + 1 <
               static_cast<int>(tree.Nodes[static_cast<std::size_t>(x.Parent)].Children.size());
    };

    p->save();
    const QRect vr = visualRect(index);
    const int L = vr.left() + kIndent;
    const int T = vr.top();
    const int B = vr.bottom();
    const int M = (T + B) / 2;
    p->fillRect(QRect(0, T, viewport()->width(), vr.height()),
                palette().brush(QPalette::Active, QPalette::Base));

    p->setPen(QColor(160, 160, 160));
    if (n.Parent >= 0)
        p->drawLine(L - 65, T - 1, L - 65, hasNextSibling(n) ? B : M);
    p->drawLine(L - 65, M, L - 42, M);
    int x = L - 65;
    for (int a = n.Parent; a >= 0; a = tree.Nodes[static_cast<std::size_t>(a)].Parent) {
        x -= kIndent;
        if (hasNextSibling(tree.Nodes[static_cast<std::size_t>(a)]))
            p->drawLine(x, T, x, B);
    }

    const qreal dpr = p->device() ? p->device()->devicePixelRatioF() : 1.0;
    const bool selected = selectionModel() && selectionModel()->isSelected(index);
    const char* button = n.Children.empty() ? "CLEAR4" : (isExpanded(index) ? "LBTNB4" : "LBTNA4");
    p->drawPixmap(L - 69, M - 4, PreviewImage(QString::fromLatin1(button), dpr));
    p->drawPixmap(L - 42, T,
                  PreviewImage(QString::fromLatin1(HostFolderImage(n.Flags, selected)), dpr));
    p->drawPixmap(L - 19, T,
                  PreviewImage(QString::fromLatin1(MirrorFolderImage(n.Flags, selected)), dpr));
    if (n.Flags & fnDelete)
        p->drawPixmap(L - 26, T, PreviewImage(QStringLiteral("TDELETE"), dpr));
    else if (n.Flags & fnMove)
        p->drawPixmap(L - 27, T, PreviewImage(QStringLiteral("MOVE4"), dpr));

    const QString label = QUtf8(n.Label);
    const QRect labelRect(L, T, option.fontMetrics.horizontalAdvance(label) + 4, vr.height());
    if (selected) {
        p->fillRect(labelRect, palette().brush(QPalette::Active, QPalette::Highlight));
        p->setPen(palette().color(QPalette::Active, QPalette::HighlightedText));
    } else {
        p->setPen(palette().color(QPalette::Active, QPalette::WindowText));
    }
    p->drawText(labelRect.adjusted(2, 0, 0, 0),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, label);
    if (selected && hasFocus() && currentIndex() == index) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = labelRect;
        focus.backgroundColor = palette().color(QPalette::Highlight);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, p, this);
    }
    p->restore();
}

void TFolderTreeView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint pos = event->position().toPoint();
        const QModelIndex index = indexAt(pos);
        // A little margin around the 9-pixel button makes it easier to hit.
        if (index.isValid() && model()->hasChildren(index) &&
            ExpandButtonRect(index).adjusted(-2, -2, 2, 2).contains(pos)) {
            setExpanded(index, !isExpanded(index));
            event->accept();
            return;
        }
    }
    QTreeView::mousePressEvent(event);
}

// ---------------------------------------------------------------------------
// TPreviewGrid

TPreviewGrid::TPreviewGrid(TTreeVForm* form, QWidget* parent) : QTableView(parent), form_(form) {}

void TPreviewGrid::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    form_->ListVMouseDown(event->button(), event->position().toPoint());
    event->accept();
}

// The second press of a double click counts as a press too, so quick clicks
// on an operation icon each move the operation on.
void TPreviewGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void TPreviewGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        form_->ListVKeyPress(QLatin1Char(' '));
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

// ---------------------------------------------------------------------------
// TTreeVForm

TTreeVForm::TTreeVForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TreeVForm"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);

    Panel2 = new QWidget(Splitter1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto* left = new QVBoxLayout(Panel2);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);
    Label1 = new QLabel(Panel2);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFixedHeight(18);
    TreeV = new TFolderTreeView(Panel2);
    TreeV->setObjectName(QStringLiteral("TreeV"));
    treeModel_ = new TFolderTreeModel(this);
    TreeV->setModel(treeModel_);
    left->addWidget(Label1);
    left->addWidget(TreeV);

    ListV = new TPreviewGrid(this, Splitter1);
    ListV->setObjectName(QStringLiteral("ListV"));
    gridModel_ = new TPreviewGridModel(this);
    ListV->setModel(gridModel_);
    ListV->setItemDelegate(new TGridCellDelegate(ListV));
    ListV->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListV->setSelectionMode(QAbstractItemView::SingleSelection);
    ListV->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListV->setShowGrid(true);
    ListV->setWordWrap(false);
    // A window made narrower than its columns scrolls them rather than cut
    // the last ones off.
    ListV->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ListV->verticalHeader()->hide();
    ListV->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListV->verticalHeader()->setMinimumSectionSize(1);
    fitRowHeight();
    ListV->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    ListV->horizontalHeader()->setHighlightSections(false);
    ListV->horizontalHeader()->setSectionsClickable(false);
    ListV->horizontalHeader()->setMinimumSectionSize(8);
    ListV->horizontalHeader()->setStretchLastSection(false);
    // The widths suit an 8-point interface font; a wider desktop font gets
    // room for a whole time and size instead of a clipped one.
    const QFontMetrics fm = ListV->fontMetrics();
    const int timeWidth = fm.horizontalAdvance(QStringLiteral("00-00-00 00:00:00")) + 8;
    const int sizeWidth = fm.horizontalAdvance(QStringLiteral("0000.0M")) + 8;
    for (int c = 0; c < 6; ++c) {
        int w = kColumnWidth[c];
        if (c == 2 || c == 4)
            w = std::max(w, timeWidth);
        else if (c == 1 || c == 5)
            w = std::max(w, sizeWidth);
        ListV->setColumnWidth(c, w);
    }
    ListV->setContextMenuPolicy(Qt::CustomContextMenu);

    Splitter1->addWidget(Panel2);
    Splitter1->addWidget(ListV);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({800 - 592 - 3, 592});
    outer->addWidget(Splitter1, 1);

    auto* bar = new TButtonBar(this);
    Panel1 = bar;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(37);
    btnSync = new QPushButton(Panel1);
    btnSync->setObjectName(QStringLiteral("btnSync"));
    btnCancel = new QPushButton(Panel1);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnShowAll = new QToolButton(Panel1);
    btnShowAll->setObjectName(QStringLiteral("btnShowAll"));
    btnHideEqu = new QToolButton(Panel1);
    btnHideEqu->setObjectName(QStringLiteral("btnHideEqu"));
    const qreal dpr = devicePixelRatioF();
    for (QToolButton* b : {btnShowAll, btnHideEqu}) {
        b->setCheckable(true);
        b->setAutoRaise(false);
        b->setIconSize(QSize(16, 16));
    }
    btnShowAll->setIcon(QIcon(PreviewImage(QStringLiteral("SHOWALL"), dpr)));
    btnHideEqu->setIcon(QIcon(PreviewImage(QStringLiteral("HIDEEQU"), dpr)));
    const char* kindNames[kKindFilters] = {"btnRemDel", "btnConflicts", "btnChgDel"};
    const char* kindImages[kKindFilters] = {"REMDEL", "CONFLICT", "CHGDEL"};
    for (int i = 0; i < kKindFilters; ++i) {
        auto* b = new QToolButton(Panel1);
        b->setObjectName(QLatin1String(kindNames[i]));
        b->setCheckable(true);
        b->setIconSize(QSize(16, 16));
        b->setIcon(QIcon(PreviewImage(QLatin1String(kindImages[i]), dpr)));
        b->hide();
        btnKinds[static_cast<std::size_t>(i)] = b;
        connect(b, &QToolButton::clicked, this,
                [this, i] { btnKindClick(static_cast<KindFilter>(i + 1)); });
    }
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(btnShowAll);
    group->addButton(btnHideEqu);
    (HideEqual ? btnHideEqu : btnShowAll)->setChecked(true);
    // Sync and Cancel stand where they stood in an 800-pixel-wide window,
    // scaled with the width.
    bar->onResize = [this](int w) {
        btnSync->setGeometry(w * 308 / 800, 6, 72, 25);
        btnCancel->setGeometry(w * 420 / 800, 6, 56, 25);
        btnShowAll->setGeometry(w - 78, 7, 32, 22);
        btnHideEqu->setGeometry(w - 44, 7, 32, 22);
        // The kind filters stand left of the two, a gap between the groups.
        for (int i = 0; i < kKindFilters; ++i)
            btnKinds[static_cast<std::size_t>(i)]->setGeometry(w - 190 + 34 * i, 7, 32, 22);
    };
    outer->addWidget(Panel1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    // The two delete-guard panels have a row of their own: beside the five
    // counts they would not fit a narrow window (a small screen, 200 %) and
    // would be drawn over each other.
    GuardBar = new QStatusBar(this);
    GuardBar->setObjectName(QStringLiteral("GuardBar"));
    GuardBar->setSizeGripEnabled(false);
    for (int i = 0; i < kPanelCount; ++i) {
        QStatusBar* bar = i < 5 ? StatusBar1 : GuardBar;
        Panels[i] = new QLabel(bar);
        Panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
        bar->addWidget(Panels[i]);
    }
    outer->addWidget(StatusBar1);
    outer->addWidget(GuardBar);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    pmAll = PopupMenu1->addAction(QString());
    pmAll->setObjectName(QStringLiteral("pmAll"));
    pmClear = PopupMenu1->addAction(QString());
    pmClear->setObjectName(QStringLiteral("pmClear"));

    changeTimer_.setSingleShot(true);
    changeTimer_.setInterval(50);
    connect(&changeTimer_, &QTimer::timeout, this, [this] { TreeVChange(); });
    connect(TreeV->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { changeTimer_.start(); });
    connect(ListV, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu1->popup(ListV->viewport()->mapToGlobal(pos)); });
    PopupMenu1->addSeparator();
    for (int i = 0; i < 4; ++i) {
        pmChoice[static_cast<std::size_t>(i)] = PopupMenu1->addAction(QString());
        pmChoice[static_cast<std::size_t>(i)]->setObjectName(QStringLiteral("pmChoice%1").arg(i));
        connect(pmChoice[static_cast<std::size_t>(i)], &QAction::triggered, this,
                [this, i] { ChooseForSelected(i); });
    }
    connect(pmAll, &QAction::triggered, this, [this] { pmAllClick(); });
    connect(pmClear, &QAction::triggered, this, [this] { pmClearClick(); });
    connect(btnShowAll, &QToolButton::clicked, this, [this] { btnShowAllClick(); });
    connect(btnHideEqu, &QToolButton::clicked, this, [this] { btnHideEquClick(); });
    connect(btnSync, &QPushButton::clicked, this, [this] { btnSyncClick(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

    // Narrower than 230 or lower than 120 pixels is refused.
    setMinimumSize(230, 120);
    resize(800, 550);
    ApplyTexts();
}

TTreeVForm::~TTreeVForm() {
    // The models point at the tree and rows, which go first.
    treeModel_->SetTree(nullptr);
    gridModel_->SetRows(nullptr);
}

// Rows tall enough for the lowest descender and underscore of any script a
// name may hold: a Chinese name is drawn by a fallback font taller than the
// interface font's own line.
void TTreeVForm::fitRowHeight() {
    const QFontMetrics fm = ListV->fontMetrics();
    const int text = fm.boundingRect(QStringLiteral("Agjy_\u56fd\u8a9e\u6587")).height();
    ListV->verticalHeader()->setDefaultSectionSize(std::max({16, fm.height(), text}) + 2);
}

void TTreeVForm::ApplyTexts() {
    ApplyInterfaceFont(this);
    fitRowHeight();
    setWindowTitle(QMsg(77));
    Label1->setText(QMsg(78));
    btnSync->setText(QMsg(82));
    btnCancel->setText(QMsg(45));
    btnShowAll->setToolTip(QMsg(189));
    btnHideEqu->setToolTip(QMsg(190));
    for (int i = 0; i < kKindFilters; ++i)
        btnKinds[static_cast<std::size_t>(i)]->setToolTip(QMsg(290 + i));
    pmAll->setText(QMsg(92));
    pmClear->setText(QMsg(93));
    const int choiceTexts[4] = {253, 254, 21, 259};
    for (std::size_t i = 0; i < pmChoice.size(); ++i)
        pmChoice[i]->setText(QMsg(choiceTexts[i]));
}

void TTreeVForm::SetPlan(SyncPlan* plan, std::string hostRoot, std::string mirrorRoot,
                         SyncAction emptyFolderAction, int deleteLimit, bool mirrorScanned) {
    FormClose();
    deleteLimit_ = deleteLimit;
    mirrorScanned_ = mirrorScanned;
    plan_ = plan;
    gridModel_->SetPlan(plan);
    // The kind filters only for a plan made with the memory of the last run.
    filter_ = KindFilter::None;
    bool remembered = plan && plan->RememberedSince != 0;
    for (int k = 1; plan && k < kRememberedKinds; ++k)
        remembered = remembered || plan->RememberedCount[static_cast<std::size_t>(k)] > 0;
    for (QToolButton* b : btnKinds) {
        b->setChecked(false);
        b->setVisible(remembered);
    }
    hostRoot_ = std::move(hostRoot);
    mirrorRoot_ = std::move(mirrorRoot);
    emptyAction_ = emptyFolderAction;
}

bool TTreeVForm::Preview(SyncPlan& plan, const RunContext& run) {
    SetPlan(&plan, run.ShownHostRoot(), run.ShownMirrorRoot(), run.Task.empty_folder_action(),
            run.Task.delete_limit(), !run.SkipMirrorScan);
    Tag = 0;
    // Room for every column of the grid beside the narrowest tree.
    const int needed = kMinTreeWidth + Splitter1->handleWidth() + gridWidthNeeded();
    if (width() < needed)
        resize(needed, height());
    // Centred on the screen, not on the parent: the progress window may be
    // hidden or parked off screen while the preview is open.
    QScreen* scr = screen() ? screen() : QGuiApplication::primaryScreen();
    if (scr) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(scr->availableGeometry().center());
        move(frame.topLeft());
    }
    exec();
    const bool go = Tag >= 1;
    plan_ = nullptr;
    return go;
}

bool TTreeVForm::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(kAddTreeNodesEvent)) {
        OnAddTreeNodes();
        return true;
    }
    return QDialog::event(event);
}

void TTreeVForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TTreeVForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ListV->viewport()->update();
}

void TTreeVForm::stretchNameColumn() {
    if (nameWidth_ <= 0)
        nameWidth_ = ListV->columnWidth(0);
    int others = 0;
    for (int c = 1; c < 6; ++c)
        others += ListV->columnWidth(c);
    const int room = ListV->viewport()->width() - others;
    stretching_ = true;
    ListV->setColumnWidth(0, std::max(nameWidth_, room));
    stretching_ = false;
}

void TPreviewGrid::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    form_->stretchNameColumn();
}

void TTreeVForm::FormShow() {
    for (QLabel* panel : Panels)
        panel->clear();
    closed_ = false;
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(kAddTreeNodesEvent)));
}

void TTreeVForm::OnAddTreeNodes() {
    if (!plan_ || building_ || built_ || closed_)
        return;
    building_ = true;
    Panels[0]->setFixedWidth(200);
    treeModel_->SetTree(nullptr);
    gridModel_->SetRows(nullptr);
    rows_.clear();
    QCoreApplication::processEvents();
    bool complete = Tag == 0 && !closed_;
    if (complete) {
        complete = tree_.Build(*plan_, hostRoot_, mirrorRoot_, emptyAction_, [this](int percent) {
            Panels[0]->setText(QMsg(91) + QString::number(percent) + QLatin1Char('%'));
            QCoreApplication::processEvents();
            // A button pressed meanwhile has set Tag and closed the window.
            return Tag == 0 && !closed_;
        });
    }
    building_ = false;
    if (!complete || closed_) {
        if (closed_)
            FormClose();
        return;
    }

    treeModel_->SetTree(&tree_);
    TreeV->setUpdatesEnabled(false);
    for (std::size_t i = 0; i < tree_.Nodes.size(); ++i)
        if (tree_.Nodes[i].Expanded)
            TreeV->setExpanded(treeModel_->IndexOf(static_cast<int>(i)), true);
    built_ = true;
    WriteStatusBar();
    TreeV->setCurrentIndex(treeModel_->IndexOf(0));
    changeTimer_.stop();
    TreeVChange();
    TreeV->setUpdatesEnabled(true);
    TreeV->setFocus();
    fitPanes(); // the expanded tree may want more room than at the start
}

void TTreeVForm::TreeVChange() {
    changeTimer_.stop();
    gridModel_->SetRows(nullptr);
    rows_.clear();
    const int node = built_ ? treeModel_->NodeOf(TreeV->currentIndex()) : -1;
    if (node >= 0 && plan_)
        rows_ = FilterRows(
            *plan_, ListFolderRows(*plan_, tree_.Nodes[static_cast<std::size_t>(node)], HideEqual),
            filter_);
    gridModel_->SetRows(&rows_);
    fitNameColumn();
}

int TTreeVForm::gridWidthNeeded() const {
    int w = 2 * ListV->frameWidth() + ListV->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < 6; ++c)
        w += ListV->columnWidth(c);
    return w;
}

void TTreeVForm::fitNameColumn() {
    // Names are cut at the column's edge: widen it (never narrow it, the user
    // may have dragged it) to the longest listed name, up to 360 pixels. A
    // look at the first 2000 rows is enough to size a column.
    const QFontMetrics fm = ListV->fontMetrics();
    int widest = 0;
    for (std::size_t i = 0; i < rows_.size() && i < 2000; ++i)
        widest = std::max(
            widest, fm.horizontalAdvance(
                        gridModel_->data(gridModel_->index(static_cast<int>(i), 0), Qt::DisplayRole)
                            .toString()));
    const int wanted = std::min(widest + 18 + 8, 360);
    if (wanted > nameWidth_)
        nameWidth_ = wanted;
    stretchNameColumn();
    fitPanes();
}

void TTreeVForm::fitPanes() {
    // The grid gets the width of its columns, the tree what is left but at
    // least its labels' width; the window grows for both while the screen
    // has room, and FitToScreen keeps it inside.
    const int grid = gridWidthNeeded();
    const int tree = std::max(TreeV->LabelsWidth() + 2 * TreeV->frameWidth() + 4, kMinTreeWidth);
    const QScreen* scr = screen() ? screen() : QGuiApplication::primaryScreen();
    const int room = scr ? scr->availableGeometry().width() - kFrameAllowanceX : width();
    const int wanted = std::min(tree + Splitter1->handleWidth() + grid, room);
    if (wanted > width() && isVisible()) {
        QRect g = geometry();
        g.setWidth(wanted);
        if (scr && g.right() > scr->availableGeometry().right() - kFrameAllowanceX / 2)
            g.moveRight(scr->availableGeometry().right() - kFrameAllowanceX / 2);
        setGeometry(g);
    }
    const int total = Splitter1->width() > 0 ? Splitter1->width() : width();
    const int gridPart = std::min(grid, total - Splitter1->handleWidth() - kMinTreeWidth);
    Splitter1->setSizes({total - Splitter1->handleWidth() - gridPart, gridPart});
}

void TTreeVForm::ListVMouseDown(Qt::MouseButton button, const QPoint& viewportPos) {
    LastDirectionRow = -1;
    if (button != Qt::LeftButton)
        return;
    const QModelIndex index = ListV->indexAt(viewportPos);
    if (!index.isValid() || rows_.empty() || !plan_)
        return;
    const int row = index.row();
    ListV->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
    const TPreviewRow& r = rows_[static_cast<std::size_t>(row)];
    // A move changes two rows, which may both be in this folder.
    const bool wasMove = IsMoveOp(RowOp(r));
    if (index.column() == 0 && viewportPos.x() <= 15) {
        SwitchRow(*plan_, r);
    } else if (index.column() == 3) {
        ChangeRowOp(*plan_, r);
        LastDirectionRow = row;
    } else {
        return;
    }
    WriteStatusBar();
    if (wasMove)
        gridModel_->AllChanged();
    else
        gridModel_->RowChanged(row);
}

void TTreeVForm::ListVKeyPress(QChar key) {
    if (key != QLatin1Char(' ') || rows_.empty() || !plan_)
        return;
    const int row = ListV->currentIndex().row();
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return;
    const bool wasMove = IsMoveOp(RowOp(rows_[static_cast<std::size_t>(row)]));
    SwitchRow(*plan_, rows_[static_cast<std::size_t>(row)]);
    WriteStatusBar();
    if (wasMove)
        gridModel_->AllChanged();
    else
        gridModel_->RowChanged(row);
}

void TTreeVForm::pmAllClick() {
    if (!plan_)
        return;
    for (const TPreviewRow& r : rows_)
        SwitchRowOn(*plan_, r);
    WriteStatusBar();
    gridModel_->AllChanged();
}

void TTreeVForm::ChooseForSelected(int choice) {
    if (!plan_)
        return;
    static constexpr TSyncOp kTargets[3] = {opToMirror, opToHost, opDelete};
    for (const QModelIndex& index : ListV->selectionModel()->selectedRows()) {
        if (index.row() < 0 || index.row() >= static_cast<int>(rows_.size()))
            continue;
        const TPreviewRow& r = rows_[static_cast<std::size_t>(index.row())];
        if (RowOp(r) == opNone)
            continue;
        if (choice == 3) {
            SwitchRowOff(*plan_, r);
            continue;
        }
        const TSyncOp target = kTargets[choice];
        if ((target == opToMirror && !r.Host) || (target == opToHost && !r.Mirror))
            continue;
        // The click cycle reaches every allowed operation within three steps.
        SwitchRowOn(*plan_, r);
        for (int step = 0; step < 4 && RowOp(r) != target; ++step)
            ChangeRowOp(*plan_, r);
    }
    WriteStatusBar();
    gridModel_->AllChanged();
}

void TTreeVForm::pmClearClick() {
    if (!plan_)
        return;
    for (const TPreviewRow& r : rows_)
        SwitchRowOff(*plan_, r);
    WriteStatusBar();
    gridModel_->AllChanged();
}

void TTreeVForm::btnShowAllClick() {
    HideEqual = false;
    btnShowAll->setChecked(true);
    TreeVChange();
}

void TTreeVForm::btnHideEquClick() {
    HideEqual = true;
    btnHideEqu->setChecked(true);
    TreeVChange();
}

void TTreeVForm::btnKindClick(KindFilter filter) {
    filter_ = filter_ == filter ? KindFilter::None : filter;
    for (int i = 0; i < kKindFilters; ++i)
        btnKinds[static_cast<std::size_t>(i)]->setChecked(filter_ ==
                                                          static_cast<KindFilter>(i + 1));
    if (built_ && filter_ != KindFilter::None) {
        const int node = treeModel_->NodeOf(TreeV->currentIndex());
        const int first = firstFolderWith(filter_);
        bool here = false;
        if (node >= 0 && plan_) {
            const std::vector<TPreviewRow> rows =
                ListFolderRows(*plan_, tree_.Nodes[static_cast<std::size_t>(node)], false);
            here = !FilterRows(*plan_, rows, filter_).empty();
        }
        if (!here && first >= 0) {
            const QModelIndex index = treeModel_->IndexOf(first);
            TreeV->scrollTo(index);
            TreeV->setCurrentIndex(index);
        }
    }
    TreeVChange();
}

int TTreeVForm::firstFolderWith(KindFilter filter) const {
    if (!plan_ || tree_.Nodes.empty())
        return -1;
    // Depth first in the order the tree shows the folders; each file is
    // looked at once at most.
    std::vector<int> stack{0};
    while (!stack.empty()) {
        const int node = stack.back();
        stack.pop_back();
        const TFolderNode& n = tree_.Nodes[static_cast<std::size_t>(node)];
        for (std::uint32_t i : n.HostFiles)
            if (FilterOf(plan_->RememberedOf(plan_->HostFiles[i], true)) == filter)
                return node;
        for (std::uint32_t i : n.MirrorFiles)
            if (FilterOf(plan_->RememberedOf(plan_->MirrorFiles.Items(static_cast<int>(i)),
                                             false)) == filter)
                return node;
        for (auto c = n.Children.rbegin(); c != n.Children.rend(); ++c)
            stack.push_back(*c);
    }
    return -1;
}

void TTreeVForm::btnSyncClick() {
    // Over the delete limit on either side the user confirms with the
    // numbers in front of him; No returns to the preview as it was.
    if (plan_) {
        const DeleteGuard guard = MeasureDeleteGuard(*plan_, deleteLimit_, mirrorScanned_);
        if (guard.Over() && !YesNoBox(this, QUtf8(GuardText(260, guard)), QMsg(72)))
            return;
    }
    Tag = 1;
    close();
}

void TTreeVForm::btnCancelClick() {
    Tag = -1;
    close();
}

void TTreeVForm::done(int r) {
    closed_ = true;
    FormClose();
    QDialog::done(r);
}

void TTreeVForm::FormClose() {
    changeTimer_.stop();
    if (building_)
        return; // the build stops at its next progress step and clears then
    treeModel_->SetTree(nullptr);
    gridModel_->SetRows(nullptr);
    rows_.clear();
    tree_.Clear();
    built_ = false;
}

void TTreeVForm::WriteStatusBar() {
    if (!plan_)
        return;
    for (int i = 0; i < 4; ++i) {
        const QString text = QUtf8(StatusPanelText(*plan_, i));
        Panels[i]->setText(text);
        Panels[i]->setFixedWidth(Panels[i]->fontMetrics().horizontalAdvance(text) + 32);
    }
    // The move panel stays once shown, so switching the last move off
    // shows 0 instead of making the bar jump.
    if (!plan_->Moves.empty()) {
        const QString text = QUtf8(StatusPanelText(*plan_, 4));
        Panels[4]->setText(text);
        Panels[4]->setFixedWidth(Panels[4]->fontMetrics().horizontalAdvance(text) + 32);
    }
    Panels[4]->setVisible(!plan_->Moves.empty());

    // Recounted on every change: one pass over both lists with a lookup per
    // host copy, a few milliseconds for 100,000 files.
    const DeleteGuard guard = MeasureDeleteGuard(*plan_, deleteLimit_, mirrorScanned_);
    const SideLoss* sides[2] = {&guard.Host, &guard.Mirror};
    for (int side = 0; side < 2; ++side) {
        QLabel* panel = Panels[5 + side];
        const QString text = QUtf8(GuardPanelText(*sides[side], side == 1, deleteLimit_));
        panel->setText(text);
        panel->setFixedWidth(panel->fontMetrics().horizontalAdvance(text) + 32);
        QPalette pal = StatusBar1->palette();
        if (sides[side]->Over(deleteLimit_))
            pal.setColor(QPalette::WindowText, QColor(255, 0, 0));
        panel->setPalette(pal);
    }
}

std::string GuardPanelText(const SideLoss& side, bool mirror, int limit) {
    std::string text =
        MsgFill(mirror ? 211 : 210, GroupThousands(side.Lost), GroupThousands(side.Files));
    if (const std::size_t at = text.find("%3"); at != std::string::npos)
        text.replace(at, 2, side.PercentText(limit));
    return text;
}

bool ShowPreviewWindow(SyncPlan& plan, const RunContext& run, QWidget* parent) {
    TTreeVForm form(parent);
    return form.Preview(plan, run);
}

} // namespace duplora

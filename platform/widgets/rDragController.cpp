#include "platform/widgets/rDragController.h"

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace duplora {

namespace {

// While the cursor is above or below the list, the list scrolls one row per
// tick: 80 ms gives about 12 rows a second, slow enough to aim at a row.
constexpr int kAutoScrollMs = 80;

// The drop mark: a dotted frame around the row under the cursor, yellow dots
// on dark ones so it shows on light and dark rows alike. It lies over the
// viewport and lets every mouse event through.
class DropMark : public QWidget {
public:
    explicit DropMark(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("rDragDropMark"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRect r = rect().adjusted(0, 0, -1, -1);
        QPen dark(QColor(40, 40, 40), 1, Qt::SolidLine);
        p.setPen(dark);
        p.drawRect(r);
        QPen yellow(QColor(0xFF, 0xFF, 0x00), 1, Qt::DotLine);
        p.setPen(yellow);
        p.drawRect(r);
        p.drawRect(r.adjusted(1, 1, -1, -1));
    }
};

} // namespace

TrDragController::TrDragController(QObject* parent) : QObject(parent) {
    scrollTimer_.setInterval(kAutoScrollMs);
    connect(&scrollTimer_, &QTimer::timeout, this, &TrDragController::autoScrollTick);
}

TrDragController::~TrDragController() {
    release();
}

bool TrDragController::setListBox(QListWidget* list) {
    if (list && list == ListBox())
        return true;
    if (list && (list->selectionMode() == QAbstractItemView::MultiSelection ||
                 list->selectionMode() == QAbstractItemView::ExtendedSelection ||
                 list->selectionMode() == QAbstractItemView::ContiguousSelection)) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("TrDragController Error"),
                        QStringLiteral("Sorry, can't operate with ListBox where MultiSelect=True"),
                        QMessageBox::Ok, list->window());
        box.setObjectName(QStringLiteral("rDragControllerError"));
        box.exec();
        return false;
    }
    release();
    list_ = list;
    guard_ = list;
    if (!list)
        return true;
    viewport_ = list->viewport();
    list->installEventFilter(this);
    viewport_->installEventFilter(this);
    mark_ = new DropMark(viewport_);
    return true;
}

bool TrDragController::alive() const {
    return list_ && qobject_cast<QListWidget*>(guard_.data()) == list_;
}

void TrDragController::forget() {
    scrollTimer_.stop();
    dropTarget_ = -1;
    pressed_ = false;
    dragging_ = false;
    eatRelease_ = false;
    list_ = nullptr;
    guard_ = nullptr;
    viewport_ = nullptr;
}

void TrDragController::release() {
    if (!alive()) {
        forget();
        return;
    }
    cancelDrag();
    delete mark_.data();
    if (viewport_)
        viewport_->removeEventFilter(this);
    list_->removeEventFilter(this);
    forget();
}

int TrDragController::RowAt(const QListWidget* list, const QPoint& pos) {
    if (!list->viewport()->rect().contains(pos))
        return -1;
    if (QListWidgetItem* item = list->itemAt(pos))
        return list->row(item);
    const int count = list->count();
    if (count == 0)
        return 0;
    const QRect last = list->visualItemRect(list->item(count - 1));
    return pos.y() > last.bottom() ? count : -1;
}

bool TrDragController::InCheckArea(const QListWidget* list, const QPoint& pos) {
    QListWidgetItem* item = list->itemAt(pos);
    if (!item || !(item->flags() & Qt::ItemIsUserCheckable))
        return false;
    QStyleOptionViewItem opt;
    opt.initFrom(list);
    opt.rect = list->visualItemRect(item);
    opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    opt.text = item->text();
    opt.font = list->font();
    opt.checkState = item->checkState();
    opt.decorationSize = list->iconSize();
    opt.direction = list->layoutDirection();
    opt.widget = list;
    QStyle* style = list->style();
    const QRect box = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, list);
    const QRect row = opt.rect;
    // The area reaches from the row's edge past the box by the box's own
    // margin, so a press just beside the box still counts as on it.
    if (opt.direction == Qt::RightToLeft) {
        const int margin = row.right() - box.right();
        return pos.x() >= box.left() - margin && pos.x() <= row.right();
    }
    const int margin = box.left() - row.left();
    return pos.x() >= row.left() && pos.x() <= box.right() + margin;
}

bool TrDragController::eventFilter(QObject* watched, QEvent* event) {
    if (!alive()) {
        forget();
        return false;
    }
    if (watched == list_) {
        if (event->type() == QEvent::KeyPress && dragging_ &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            cancelDrag();
            return true;
        }
        if (event->type() == QEvent::FocusOut || event->type() == QEvent::Hide)
            cancelDrag();
        return false;
    }
    if (watched != viewport_)
        return false;

    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton)
            return false;
        cancelDrag();
        const QPoint pos = me->position().toPoint();
        if (InCheckArea(list_, pos)) {
            // Qt reports a double click as a second press followed by this
            // event: the press has flipped the mark already.
            if (event->type() == QEvent::MouseButtonDblClick)
                return true;
            // The press flips the mark itself; the list's own handling (which
            // flips on release) must not see this press or its release.
            QListWidgetItem* item = list_->itemAt(pos);
            const int row = list_->row(item);
            list_->setCurrentRow(row);
            item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
            eatRelease_ = true;
            if (OnCheckClick)
                OnCheckClick(list_, row);
            return true;
        }
        if (event->type() == QEvent::MouseButtonPress && list_->itemAt(pos)) {
            // The list selects the row itself; the drag starts on movement.
            pressed_ = true;
            pressPos_ = pos;
            lastPos_ = pos;
        }
        return false;
    }
    case QEvent::MouseMove: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (eatRelease_)
            return true;
        if (!pressed_)
            return false;
        if (!(me->buttons() & Qt::LeftButton)) { // the release went elsewhere
            cancelDrag();
            return false;
        }
        const QPoint pos = me->position().toPoint();
        if (!dragging_) {
            if ((pos - pressPos_).manhattanLength() < QApplication::startDragDistance())
                return true;
            beginDrag(pos);
        }
        trackTo(pos);
        return true; // the list must not move its selection along with the cursor
    }
    case QEvent::MouseButtonRelease: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton)
            return false;
        if (eatRelease_) {
            eatRelease_ = false;
            return true;
        }
        if (!pressed_)
            return false;
        const bool wasDragging = dragging_;
        if (wasDragging)
            finishDrag(me->position().toPoint());
        pressed_ = false;
        dragging_ = false;
        return wasDragging;
    }
    default:
        return false;
    }
}

void TrDragController::beginDrag(const QPoint&) {
    dragging_ = true;
    dropTarget_ = -1;
    viewport_->setCursor(Qt::DragMoveCursor);
}

bool TrDragController::pointerOutsideVertically(const QPoint& pos, int* direction) const {
    const QRect vr = viewport_->rect();
    if (pos.y() < vr.top()) {
        *direction = -1;
        return true;
    }
    if (pos.y() > vr.bottom()) {
        *direction = 1;
        return true;
    }
    return false;
}

void TrDragController::trackTo(const QPoint& pos) {
    lastPos_ = pos;
    int direction = 0;
    int row = RowAt(list_, pos);
    if (pointerOutsideVertically(pos, &direction)) {
        if (!scrollTimer_.isActive()) {
            autoScrollTick(); // the first row at once, then one per tick
            scrollTimer_.start();
        }
        row = -1;
    } else {
        scrollTimer_.stop();
    }
    if (row == dropTarget_)
        return;
    setMark(row);
    dropTarget_ = row;
}

void TrDragController::autoScrollTick() {
    if (!dragging_ || !alive()) {
        scrollTimer_.stop();
        return;
    }
    int direction = 0;
    if (!pointerOutsideVertically(lastPos_, &direction)) {
        scrollTimer_.stop();
        return;
    }
    list_->verticalScrollBar()->triggerAction(direction < 0 ? QAbstractSlider::SliderSingleStepSub
                                                            : QAbstractSlider::SliderSingleStepAdd);
}

void TrDragController::setMark(int row) {
    if (!mark_ || !alive())
        return;
    if (row >= 0 && row < list_->count() && row != list_->currentRow()) {
        mark_->setGeometry(list_->visualItemRect(list_->item(row)));
        mark_->raise();
        mark_->show();
        mark_->update();
    } else {
        mark_->hide();
    }
}

void TrDragController::finishDrag(const QPoint& pos) {
    scrollTimer_.stop();
    if (viewport_)
        viewport_->unsetCursor();
    if (dropTarget_ == -1)
        return;
    setMark(-1);
    dropTarget_ = -1;
    int to = RowAt(list_, pos);
    if (to == list_->count())
        to = list_->count() - 1;
    const int from = list_->currentRow();
    if (from < 0 || to < 0 || from >= list_->count() || to >= list_->count())
        return;
    MoveItem(list_, from, to);
    // OnItemMove may have done anything, even dropped the list.
    if (alive() && to < list_->count())
        list_->setCurrentRow(to);
}

void TrDragController::cancelDrag() {
    scrollTimer_.stop();
    if (dragging_ && viewport_)
        viewport_->unsetCursor();
    setMark(-1);
    dropTarget_ = -1;
    pressed_ = false;
    dragging_ = false;
}

void TrDragController::MoveItem(QListWidget* list, int from, int to) {
    if (!list || from < 0 || to < 0 || from >= list->count() || to >= list->count())
        return;
    {
        const QSignalBlocker hold(list);
        QListWidgetItem* item = list->takeItem(from);
        // A plain row has no check state; giving it one would grow a box.
        const QVariant mark = item->data(Qt::CheckStateRole);
        list->insertItem(to, item);
        if (mark.isValid())
            item->setData(Qt::CheckStateRole, mark);
    }
    if (OnItemMove)
        OnItemMove(list, from, to);
    emit itemMoved(from, to);
}

} // namespace duplora

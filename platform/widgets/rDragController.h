#pragma once
// TrDragController: lets the user reorder the rows of a single-selection
// QListWidget (check boxes allowed) by dragging a row onto another one.
//
//   press on a check box  -> flip it, no drag
//   press on a row        -> that row becomes current; a drag starts once the
//                            cursor has moved the platform's drag distance
//   move                  -> yellow dotted mark on the row under the cursor;
//                            above or below the list the list scrolls a row
//                            per tick and nothing is marked
//   release on the list   -> MoveItem(list, selected row, row under the cursor)
//   release elsewhere/Esc -> nothing moves
//
// The controller only filters events of the list and its viewport; it owns
// nothing of the list.

// QListWidget complete: QPointer<QListWidget> is instantiated wherever this
// header is included.
#include <QListWidget>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include <functional>

class QWidget;

namespace duplora {

class TrDragController : public QObject {
    Q_OBJECT
public:
    // (sender = the list, FromIndex, ToIndex), called after a row was moved.
    using TrMovedEvent = std::function<void(QListWidget* sender, int fromIndex, int toIndex)>;
    // (the list, row) after a press on a row's check box flipped its mark.
    using CheckClickEvent = std::function<void(QListWidget* sender, int row)>;

    explicit TrDragController(QObject* parent = nullptr);
    ~TrDragController() override;

    QListWidget* ListBox() const { return alive() ? list_ : nullptr; }
    // Binds a list (nullptr unbinds). A list that allows selecting several
    // rows is refused with a message box and the previous binding stays;
    // returns false then.
    bool setListBox(QListWidget* list);

    TrMovedEvent OnItemMove;
    CheckClickEvent OnCheckClick;

    // The row under the mark, or -1 (also the row count for a point below the
    // last row).
    int dropTarget() const { return dropTarget_; }
    bool dragging() const { return dragging_; }

    // Moves row `from` to `to` (remove, then insert), keeping its check mark,
    // then calls OnItemMove. Does nothing when either index is outside the
    // list. The list's signals are held back during the move so that nobody
    // sees the rows out of step with their owners' data.
    virtual void MoveItem(QListWidget* list, int from, int to);

    // Row under a viewport point: the row, the row count for a point inside
    // the list below the last row, -1 outside the list.
    static int RowAt(const QListWidget* list, const QPoint& viewportPos);
    // True when the viewport point lies in the check-box area of a checkable
    // row (measured from the row's left edge, or its right edge when the list
    // is laid out right to left).
    static bool InCheckArea(const QListWidget* list, const QPoint& viewportPos);

signals:
    void itemMoved(int fromIndex, int toIndex);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void release();
    void beginDrag(const QPoint& pos);
    void trackTo(const QPoint& pos);
    void finishDrag(const QPoint& pos);
    void cancelDrag();
    void setMark(int row);
    void autoScrollTick();
    bool pointerOutsideVertically(const QPoint& pos, int* direction) const;

    // True while the bound list exists as a list. During its destruction its
    // QWidget part still sends events (hide, child removal) after the list
    // part is gone; the controller must not touch it then.
    bool alive() const;
    // Drops the binding without touching the list.
    void forget();

    QListWidget* list_ = nullptr;
    QPointer<QWidget> guard_; // cleared by Qt when the list's QObject goes
    QPointer<QWidget> viewport_;
    QPointer<QWidget> mark_; // the yellow dotted frame, a child of the viewport
    QTimer scrollTimer_;

    int dropTarget_ = -1;
    bool pressed_ = false;    // left button held after a press on a row
    bool dragging_ = false;   // moved past the drag distance
    bool eatRelease_ = false; // the release that follows a check-box press
    QPoint pressPos_;
    QPoint lastPos_;
};

} // namespace duplora

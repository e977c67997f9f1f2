#include "platform/widgets/rDragController.h"

#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

using namespace duplora;

namespace {

// A shown list of checkable rows "T0".."Tn-1" with a controller bound to it
// that records every reported move.
struct DragFixture {
    QListWidget list;
    TrDragController drag;
    std::vector<std::pair<int, int>> moves;

    explicit DragFixture(int rows, bool checkable = true, QSize size = QSize(200, 300)) {
        for (int i = 0; i < rows; ++i) {
            auto* item = new QListWidgetItem(QStringLiteral("T%1").arg(i), &list);
            if (checkable) {
                item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                item->setCheckState(Qt::Unchecked);
            }
        }
        list.resize(size);
        list.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&list));
        EXPECT_TRUE(drag.setListBox(&list));
        drag.OnItemMove = [this](QListWidget* sender, int from, int to) {
            EXPECT_EQ(sender, &list);
            moves.emplace_back(from, to);
        };
    }

    QWidget* vp() { return list.viewport(); }
    QPoint centre(int row) { return list.visualItemRect(list.item(row)).center(); }
    QPoint textPoint(int row) {
        const QRect r = list.visualItemRect(list.item(row));
        return QPoint(r.left() + r.width() * 2 / 3, r.center().y());
    }
    QPoint checkPoint(int row) {
        // Probe from the left edge for the first point in the check area.
        const QRect r = list.visualItemRect(list.item(row));
        for (int x = r.left(); x < r.right(); ++x)
            if (TrDragController::InCheckArea(&list, QPoint(x + 4, r.center().y())))
                return QPoint(x + 4, r.center().y());
        ADD_FAILURE() << "no check area";
        return r.center();
    }
    QStringList texts() {
        QStringList out;
        for (int i = 0; i < list.count(); ++i)
            out << list.item(i)->text();
        return out;
    }
    // Press on `from`, move over the given points in steps, release at the last.
    void dragThrough(int fromRow, std::vector<QPoint> path) {
        const QPoint start = textPoint(fromRow);
        QTest::mousePress(vp(), Qt::LeftButton, {}, start);
        QPoint last = start;
        for (const QPoint& p : path) {
            for (int s = 1; s <= 4; ++s)
                QTest::mouseMove(vp(), last + (p - last) * s / 4);
            last = p;
        }
        QTest::mouseRelease(vp(), Qt::LeftButton, {}, last);
    }
};

} // namespace

TEST(rDragController, PressOnCheckBoxFlipsItOnceAndStartsNoDrag) {
    DragFixture f(5);
    std::vector<int> checkClicks;
    f.drag.OnCheckClick = [&](QListWidget*, int row) { checkClicks.push_back(row); };

    // A click on the row's text first: the list then knows the row as pressed
    // and would flip the box again on the next release over it.
    QTest::mouseClick(f.vp(), Qt::LeftButton, {}, f.textPoint(2));
    QTest::mouseClick(f.vp(), Qt::LeftButton, {}, f.checkPoint(2));
    EXPECT_EQ(f.list.item(2)->checkState(), Qt::Checked); // flipped once, not back on release
    EXPECT_EQ(f.list.currentRow(), 2);
    EXPECT_EQ(checkClicks, std::vector<int>{2});
    QTest::mouseDClick(f.vp(), Qt::LeftButton, {}, f.checkPoint(2)); // two flips
    EXPECT_EQ(f.list.item(2)->checkState(), Qt::Checked);
    // Moving after such a press drags nothing.
    QTest::mousePress(f.vp(), Qt::LeftButton, {}, f.checkPoint(0));
    QTest::mouseMove(f.vp(), f.centre(3));
    QTest::mouseRelease(f.vp(), Qt::LeftButton, {}, f.centre(3));
    EXPECT_EQ(f.list.item(0)->checkState(), Qt::Checked);
    EXPECT_TRUE(f.moves.empty());
    EXPECT_EQ(f.texts(), (QStringList{"T0", "T1", "T2", "T3", "T4"}));
    // A click on the text of a row neither flips nor moves.
    QTest::mouseClick(f.vp(), Qt::LeftButton, {}, f.textPoint(4));
    EXPECT_EQ(f.list.item(4)->checkState(), Qt::Unchecked);
    EXPECT_EQ(f.list.currentRow(), 4);
    EXPECT_TRUE(f.moves.empty());
}

TEST(rDragController, DragMovesRowsWithTheirCheckMarksAndReports) {
    DragFixture f(5);
    f.list.item(0)->setCheckState(Qt::Checked);
    f.dragThrough(0, {f.centre(1), f.centre(3)});
    EXPECT_EQ(f.texts(), (QStringList{"T1", "T2", "T3", "T0", "T4"}));
    ASSERT_EQ(f.moves.size(), 1u);
    EXPECT_EQ(f.moves[0], std::make_pair(0, 3));
    EXPECT_EQ(f.list.currentRow(), 3);
    EXPECT_EQ(f.list.item(3)->checkState(), Qt::Checked);
    EXPECT_EQ(f.list.item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(f.drag.dropTarget(), -1);
    EXPECT_FALSE(f.drag.dragging());

    f.dragThrough(4, {f.centre(1)});
    EXPECT_EQ(f.texts(), (QStringList{"T1", "T4", "T2", "T3", "T0"}));
    EXPECT_EQ(f.moves.back(), std::make_pair(4, 1));
    EXPECT_EQ(f.list.currentRow(), 1);
}

TEST(rDragController, DropBelowTheLastRowMovesToTheEnd) {
    DragFixture f(4);
    const QRect last = f.list.visualItemRect(f.list.item(3));
    f.dragThrough(1, {f.centre(2), QPoint(last.center().x(), last.bottom() + 30)});
    EXPECT_EQ(f.texts(), (QStringList{"T0", "T2", "T3", "T1"}));
    EXPECT_EQ(f.moves.back(), std::make_pair(1, 3));
}

TEST(rDragController, ReleaseOutsideOrEscapeMovesNothing) {
    DragFixture f(5);
    // Off the right edge of the list: no row under the cursor.
    f.dragThrough(1, {f.centre(3), QPoint(f.vp()->width() + 40, f.centre(3).y())});
    EXPECT_TRUE(f.moves.empty());
    EXPECT_EQ(f.texts(), (QStringList{"T0", "T1", "T2", "T3", "T4"}));

    QTest::mousePress(f.vp(), Qt::LeftButton, {}, f.textPoint(0));
    QTest::mouseMove(f.vp(), f.centre(1));
    QTest::mouseMove(f.vp(), f.centre(2));
    EXPECT_TRUE(f.drag.dragging());
    EXPECT_EQ(f.drag.dropTarget(), 2);
    QTest::keyClick(&f.list, Qt::Key_Escape);
    EXPECT_FALSE(f.drag.dragging());
    QTest::mouseRelease(f.vp(), Qt::LeftButton, {}, f.centre(2));
    EXPECT_TRUE(f.moves.empty());
    EXPECT_EQ(f.texts(), (QStringList{"T0", "T1", "T2", "T3", "T4"}));
}

TEST(rDragController, DropOnTheDraggedRowItselfStillReports) {
    DragFixture f(5);
    f.dragThrough(2, {f.centre(3), f.centre(2)});
    ASSERT_EQ(f.moves.size(), 1u);
    EXPECT_EQ(f.moves[0], std::make_pair(2, 2));
    EXPECT_EQ(f.texts(), (QStringList{"T0", "T1", "T2", "T3", "T4"}));
}

TEST(rDragController, MarkFollowsTheRowUnderTheCursorButNotTheDraggedOne) {
    DragFixture f(5);
    auto* mark = f.vp()->findChild<QWidget*>(QStringLiteral("rDragDropMark"));
    ASSERT_NE(mark, nullptr);
    QTest::mousePress(f.vp(), Qt::LeftButton, {}, f.textPoint(1));
    QTest::mouseMove(f.vp(), f.centre(1) + QPoint(0, 3));
    QTest::mouseMove(f.vp(), f.centre(1) + QPoint(0, 6));
    EXPECT_TRUE(f.drag.dragging());
    EXPECT_FALSE(mark->isVisible()); // over the dragged row itself
    QTest::mouseMove(f.vp(), f.centre(3));
    EXPECT_TRUE(mark->isVisible());
    EXPECT_EQ(mark->geometry(), f.list.visualItemRect(f.list.item(3)));
    QTest::mouseRelease(f.vp(), Qt::LeftButton, {}, f.centre(3));
    EXPECT_FALSE(mark->isVisible());
}

TEST(rDragController, HoldingTheCursorBelowTheListScrollsIt) {
    DragFixture f(40, true, QSize(200, 120));
    QScrollBar* bar = f.list.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);
    QTest::mousePress(f.vp(), Qt::LeftButton, {}, f.textPoint(0));
    QTest::mouseMove(f.vp(), f.centre(1));
    QTest::mouseMove(f.vp(), QPoint(f.centre(0).x(), f.vp()->height() + 10));
    EXPECT_EQ(f.drag.dropTarget(), -1); // nothing marked outside the list
    QTest::qWait(300);
    EXPECT_GE(bar->value(), 2);
    QTest::mouseRelease(f.vp(), Qt::LeftButton, {}, QPoint(f.centre(0).x(), f.vp()->height() + 10));
    EXPECT_TRUE(f.moves.empty());
}

TEST(rDragController, MoveItemKeepsPlainRowsPlainAndIgnoresBadIndexes) {
    DragFixture f(3, false);
    f.drag.MoveItem(&f.list, 0, 2);
    EXPECT_EQ(f.texts(), (QStringList{"T1", "T2", "T0"}));
    EXPECT_FALSE(f.list.item(2)->data(Qt::CheckStateRole).isValid());
    f.drag.MoveItem(&f.list, 0, 3);
    f.drag.MoveItem(&f.list, -1, 0);
    EXPECT_EQ(f.moves.size(), 1u);
}

TEST(rDragController, OwnerThatSavesOnRowChangeKeepsRowsAndRecordsPaired) {
    // An owner like the main window: on a change of current row it stores
    // what its fields show into the record it was editing, then shows the new
    // row's record; on a move it moves its records and follows the moved one.
    DragFixture f(4);
    QStringList records{"T0", "T1", "T2", "T3"};
    int editing = -1;
    QString shown;
    QObject::connect(&f.list, &QListWidget::currentRowChanged, [&](int row) {
        if (editing >= 0)
            records[editing] = shown;
        editing = row;
        shown = row >= 0 ? records[row] : QString();
    });
    f.drag.OnItemMove = [&](QListWidget*, int from, int to) {
        records.move(from, to);
        editing = to;
    };
    f.list.setCurrentRow(2);
    f.dragThrough(2, {f.centre(1), f.centre(0)});
    EXPECT_EQ(f.texts(), (QStringList{"T2", "T0", "T1", "T3"}));
    EXPECT_EQ(records, f.texts());
    EXPECT_EQ(shown, "T2");

    f.dragThrough(0, {f.centre(1), f.centre(3)});
    EXPECT_EQ(records, f.texts());
    EXPECT_EQ(shown, "T2");
    EXPECT_EQ(records[3], "T2");
}

TEST(rDragController, MultiSelectListIsRefusedAndTheBindingStays) {
    DragFixture f(3);
    QListWidget multi;
    multi.setSelectionMode(QAbstractItemView::ExtendedSelection);
    QString shown;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                shown = box->windowTitle() + "|" + box->text();
                box->accept();
            }
    });
    EXPECT_FALSE(f.drag.setListBox(&multi));
    EXPECT_EQ(shown, "TrDragController Error|Sorry, can't operate with ListBox where "
                     "MultiSelect=True");
    EXPECT_EQ(f.drag.ListBox(), &f.list);
}

TEST(rDragController, ForgetsADestroyedList) {
    TrDragController drag;
    {
        auto list = std::make_unique<QListWidget>();
        drag.setListBox(list.get());
        EXPECT_EQ(drag.ListBox(), list.get());
    }
    EXPECT_EQ(drag.ListBox(), nullptr);
    QListWidget other;
    EXPECT_TRUE(drag.setListBox(&other)); // and can be bound again
}

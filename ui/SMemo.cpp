#include "ui/SMemo.h"

#include <QScrollBar>
#include <QTextBlock>

#include <algorithm>

namespace duplora {

TSMemo::TSMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The scroll bar applies an action right after announcing it, so the
    // events are queued to run once the action has been handled.
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, [this](int) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (OnHScroll)
                    OnHScroll(this);
            },
            Qt::QueuedConnection);
    });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (OnVScroll)
                    OnVScroll(this);
            },
            Qt::QueuedConnection);
    });
}

int TSMemo::FirstVisibleLine() const {
    // Without wrapping, the vertical scroll position of a plain text edit
    // counts whole lines.
    return firstVisibleBlock().blockNumber();
}

void TSMemo::ScrollToLine(int line) {
    QScrollBar* bar = verticalScrollBar();
    const long long target = static_cast<long long>(bar->value()) + line - FirstVisibleLine();
    bar->setValue(static_cast<int>(std::clamp<long long>(target, bar->minimum(), bar->maximum())));
}

void TSMemo::AddLine(const QString& line) {
    appendPlainText(line);
}

int TSMemo::LineCount() const {
    return document()->isEmpty() ? 0 : blockCount();
}

} // namespace duplora

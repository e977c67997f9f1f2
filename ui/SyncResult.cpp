#include "ui/SyncResult.h"

#include "ui/SMemo.h"
#include "ui/WidgetTexts.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

namespace duplora {

TresForm::TresForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("resForm"));
    resMemo = new TSMemo(this);
    resMemo->setObjectName(QStringLiteral("resMemo"));
    resMemo->setReadOnly(true);
    btnClose = new QPushButton(this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &TresForm::btnCloseClick);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnClose);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 10);
    layout->addWidget(resMemo, 1);
    layout->addLayout(buttons);
    resize(390, 293);
}

void TresForm::ApplyTexts() {
    ApplyInterfaceFont(this);
    setWindowTitle(QMsg(74));
    btnClose->setText(QMsg(75));
    // Wide enough for the separator line (61 '='), so that no horizontal
    // scroll bar appears for it, and high enough for a whole run's report.
    const QFontMetrics fm = resMemo->fontMetrics();
    const int text = fm.horizontalAdvance(QString(61, QLatin1Char('='))) +
                     2 * static_cast<int>(resMemo->document()->documentMargin()) +
                     2 * resMemo->frameWidth() + resMemo->verticalScrollBar()->sizeHint().width() +
                     8;
    resize(std::max(390, text), std::max(293, fm.lineSpacing() * 22));
}

void TresForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TresForm::FormShow() {
    resMemo->ScrollToLine(1000000);
    // Appending moved the view sideways to the end of the last (separator)
    // line; lines start at the left edge.
    resMemo->horizontalScrollBar()->setValue(0);
    btnClose->setFocus();
}

void TresForm::btnCloseClick() {
    accept();
}

} // namespace duplora

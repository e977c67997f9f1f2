#include "ui/MessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace duplora {

namespace {
BoxHook& Hook() {
    static BoxHook hook;
    return hook;
}
} // namespace

void SetBoxHook(BoxHook hook) {
    Hook() = std::move(hook);
}

bool ShowBox(QWidget* parent, BoxKind kind, const QString& text, const QString& caption) {
    if (Hook())
        return Hook()(kind, text, caption);
    if (kind == BoxKind::Ok) {
        QMessageBox::critical(parent, caption, text, QMessageBox::Ok);
        return true;
    }
    if (kind == BoxKind::Notice) {
        QMessageBox::information(parent, caption, text, QMessageBox::Ok);
        return true;
    }
    return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

std::optional<bool> YesNoOrEscBox(QWidget* parent, const QString& text, const QString& caption) {
    if (Hook())
        return Hook()(BoxKind::YesNo, text, caption);
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::Yes);
    // A box of Yes and No makes No its escape button. An invisible Cancel
    // takes that part, so Esc and the close button withdraw the question.
    QPushButton* withdraw = box.addButton(QMessageBox::Cancel);
    withdraw->hide();
    box.setEscapeButton(withdraw);
    box.exec();
    if (box.clickedButton() == box.button(QMessageBox::Yes))
        return true;
    if (box.clickedButton() == box.button(QMessageBox::No))
        return false;
    return std::nullopt;
}

} // namespace duplora

#include "ui/MessageBoxes.h"

#include <QMessageBox>

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

} // namespace duplora

#include "ui/SpinEdit.h"

#include "ui/AdvOptions.h"

#include <QLineEdit>

namespace duplora {

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent) {
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    setKeyboardTracking(false);
}

void TSpinEdit::setMaxChars(int n) {
    lineEdit()->setMaxLength(n > 0 ? n : 32767);
}

QValidator::State TSpinEdit::validate(QString& input, int&) const {
    if (input.isEmpty() || input == QLatin1String("-"))
        return QValidator::Intermediate;
    bool ok = false;
    const qlonglong v = input.toLongLong(&ok);
    if (!ok)
        return QValidator::Invalid; // letters and fractions cannot be typed
    return v >= minimum() && v <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
}

void TSpinEdit::fixup(QString& input) const {
    const QByteArray utf8 = input.toUtf8();
    input = QString::number(
        SpinValue(std::string_view(utf8.constData(), utf8.size()), minimum(), maximum()));
}

} // namespace duplora

#pragma once
// A whole-number spin field that lets the user type any number and brings it
// into range on leaving: above the maximum shows the maximum, a text that is
// not a whole number reads as the minimum.

#include <QSpinBox>

namespace duplora {

class TSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    // Longest text the user may type (0 = no limit).
    void setMaxChars(int n);

    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
};

} // namespace duplora

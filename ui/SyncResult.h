#pragma once
// TresForm: the result window. Its memo holds the result lines of every run
// since the program started; the window shows them scrolled to the end.

#include <QDialog>

class QPushButton;

namespace duplora {

class TSMemo;

class TresForm : public QDialog {
    Q_OBJECT
public:
    explicit TresForm(QWidget* parent = nullptr);

    void ApplyTexts();

    TSMemo* resMemo = nullptr;
    QPushButton* btnClose = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void btnCloseClick();
};

} // namespace duplora

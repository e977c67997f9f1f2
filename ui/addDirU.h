#pragma once
// TdirForm: asks for a sub-folder to put on a folder task's list. The text
// stays from one showing to the next; the caller checks it after OK.

#include <QDialog>

#include <string>

class QLineEdit;
class QPushButton;
class QToolButton;

namespace duplora {

class TSDirDlg;

class TdirForm : public QDialog {
    Q_OBJECT
public:
    explicit TdirForm(QWidget* parent = nullptr);

    void ApplyTexts();

    // The folder chooser to borrow (the main window's) and the current task's
    // host folder, where browsing starts. Without a chooser the dialog uses
    // one of its own.
    void setDirDialog(TSDirDlg* dlg) { dirDlg_ = dlg; }
    void setHostPath(const std::string& path) { hostPath_ = path; }

    QLineEdit* edDir = nullptr;
    QToolButton* BrMirror = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    void BrMirrorClick();

private:
    TSDirDlg* dirDlg_ = nullptr;
    TSDirDlg* ownDlg_ = nullptr;
    std::string hostPath_;
};

} // namespace duplora

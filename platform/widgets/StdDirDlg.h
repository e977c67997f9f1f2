#pragma once
// TSDirDlg: picks one folder with the toolkit's folder chooser. Set Caption
// and Directory, call Execute; on true Directory holds the chosen folder.

#include <QObject>
#include <QString>

#include <functional>

class QFileDialog;
class QWidget;

namespace duplora {

// The folder the chooser starts at: the current folder for an empty text,
// else the text without one trailing '/' ("/data/" -> "/data"; "/" stays).
QString StartFolder(const QString& directory, const QString& currentFolder);

class TSDirDlg : public QObject {
    Q_OBJECT
public:
    explicit TSDirDlg(QObject* parent = nullptr);

    QString Caption = QStringLiteral("Please select a folder");
    // In: the folder to preselect. Out: the folder selected last, also when
    // the user finally cancels; read it only after Execute returned true.
    QString Directory;
    // Raised each time the user selects a folder in the open chooser, after
    // Directory has been updated.
    std::function<void(TSDirDlg* sender)> OnChange;

    // Shows the chooser modally over `owner` (or the active window). True
    // when the user chose a folder.
    bool Execute(QWidget* owner = nullptr);

    // The chooser while Execute runs, else null (tests answer it).
    QFileDialog* dialog() const { return dialog_; }

private:
    QFileDialog* dialog_ = nullptr;
};

} // namespace duplora

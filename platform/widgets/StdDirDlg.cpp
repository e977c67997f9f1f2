#include "platform/widgets/StdDirDlg.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace duplora {

QString StartFolder(const QString& directory, const QString& currentFolder) {
    QString dir = directory.isEmpty() ? currentFolder : directory;
    if (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

TSDirDlg::TSDirDlg(QObject* parent) : QObject(parent) {}

bool TSDirDlg::Execute(QWidget* owner) {
    if (!owner)
        owner = QApplication::activeWindow();
    QFileDialog dlg(owner, Caption);
    dlg.setObjectName(QStringLiteral("SDirDlg"));
    dlg.setFileMode(QFileDialog::Directory);
    dlg.setOption(QFileDialog::ShowDirsOnly, true);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);

    Directory = StartFolder(Directory, QDir::currentPath());
    // A folder that does not exist leaves the chooser at its own default.
    if (QFileInfo(Directory).isDir())
        dlg.setDirectory(Directory);

    auto selected = [this](const QString& path) {
        if (path.isEmpty() || !QFileInfo(path).isDir())
            return;
        Directory = QDir::cleanPath(path);
        if (OnChange)
            OnChange(this);
    };
    connect(&dlg, &QFileDialog::currentChanged, this, selected);
    connect(&dlg, &QFileDialog::directoryEntered, this, selected);

    dialog_ = &dlg;
    const int result = dlg.exec();
    dialog_ = nullptr;
    if (result != QDialog::Accepted)
        return false;
    const QStringList chosen = dlg.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return false;
    Directory = QDir::cleanPath(chosen.first());
    return true;
}

} // namespace duplora

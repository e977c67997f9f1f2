#include "ui/addDirU.h"

#include "platform/widgets/StdDirDlg.h"
#include "ui/WidgetTexts.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace duplora {

TdirForm::TdirForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("dirForm"));
    edDir = new QLineEdit(this);
    edDir->setObjectName(QStringLiteral("edDir"));
    edDir->setMaxLength(512);
    edDir->setMinimumWidth(300);
    BrMirror = new QToolButton(this);
    BrMirror->setObjectName(QStringLiteral("BrMirror"));
    BrMirror->setFocusPolicy(Qt::NoFocus);
    BrMirror->setToolButtonStyle(Qt::ToolButtonTextOnly);
    BrMirror->setMinimumWidth(52);
    btnOk = new QPushButton(this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnOk->setAutoDefault(true);
    btnCancel = new QPushButton(this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    connect(BrMirror, &QToolButton::clicked, this, &TdirForm::BrMirrorClick);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(edDir, 1);
    row->addWidget(BrMirror);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addSpacing(30);
    buttons->addWidget(btnCancel);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 12, 10);
    layout->addLayout(row);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TdirForm::ApplyTexts() {
    ApplyInterfaceFont(this);
    setWindowTitle(QMsg(122));
    BrMirror->setText(QMsg(8));
    btnOk->setText(QMsg(99));
    btnCancel->setText(QMsg(100));
}

void TdirForm::BrMirrorClick() {
    TSDirDlg* dlg = dirDlg_;
    if (!dlg) {
        if (!ownDlg_)
            ownDlg_ = new TSDirDlg(this);
        dlg = ownDlg_;
    }
    dlg->Caption = QMsg(34);
    dlg->Directory = QUtf8(hostPath_);
    if (dlg->Execute(this)) {
        // The 512-character limit is for typing; a chosen path is taken whole
        // (a cut path would name another folder).
        edDir->setMaxLength(std::max(512, static_cast<int>(dlg->Directory.size())));
        edDir->setText(dlg->Directory);
    }
}

} // namespace duplora

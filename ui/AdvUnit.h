#pragma once
// TadvForm: the advanced options dialog of one task. It loads the task record
// when shown and writes it back only on Ok; the rules live in AdvOptions.h.

#include "ui/AdvOptions.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace duplora {

class TSpinEdit;

class TadvForm : public QDialog {
    Q_OBJECT
public:
    explicit TadvForm(QWidget* parent = nullptr);

    void ApplyTexts();

    // The record the next showing edits, and what Ok calls after storing (the
    // main window sets its changed flag there).
    void setRecord(TaskRecord* record) { record_ = record; }
    std::function<void()> OnChanged;

    // Shows the dialog modally on `record`. True when Ok stored the values.
    bool Execute(TaskRecord& record);

    // What the controls hold now, and putting values into them.
    AdvValues values() const;
    void setValues(const AdvValues& v);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* lbShift = nullptr;
    QLineEdit* edNetName = nullptr;
    QLineEdit* edNetPass = nullptr;
    QCheckBox* chkOnlyType = nullptr;
    QPlainTextEdit* liOnlyType = nullptr;
    QCheckBox* chkIgnore = nullptr;
    QPlainTextEdit* liIgnore = nullptr;
    QCheckBox* chkDel = nullptr;
    QPlainTextEdit* liDel = nullptr;
    QCheckBox* chkAuto = nullptr;
    TSpinEdit* edSpeed = nullptr;
    TSpinEdit* edErr = nullptr;
    QCheckBox* chk1Hour = nullptr;
    TSpinEdit* edShift = nullptr;
    QCheckBox* chkMoves = nullptr;
    QLabel* lbMoveMin = nullptr;
    TSpinEdit* edMoveMin = nullptr;
    // Where deleted and replaced files go (items in DeleteMode order), the
    // versioning folder (enabled only for that choice) and the delete limit.
    QLabel* lbOnDelete = nullptr;
    QComboBox* cbOnDelete = nullptr;
    QLabel* lbVersions = nullptr;
    QLineEdit* edVersions = nullptr;
    QLabel* lbDelLimit = nullptr;
    TSpinEdit* edDelLimit = nullptr;
    // Remembering the last run and its three answers, enabled with the box.
    // The two delete lists offer what the rulebook allows (item data: the
    // SyncAction); the conflict list is in ConflictAction order.
    QCheckBox* chkRemember = nullptr;
    QLabel* lbDeletedInHost = nullptr;
    QComboBox* cbDeletedInHost = nullptr;
    QLabel* lbDeletedInMirror = nullptr;
    QComboBox* cbDeletedInMirror = nullptr;
    QLabel* lbConflict = nullptr;
    QComboBox* cbConflict = nullptr;
    QPushButton* btnDef = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    void FormShow();
    void btnDefClick();
    void btnOkClick();
    void cbOnDeleteChange();
    void chkRememberChange();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* listOf(AdvList which) const;

    TaskRecord* record_ = nullptr;
};

} // namespace duplora

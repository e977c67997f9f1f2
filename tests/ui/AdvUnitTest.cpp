#include "ui/AdvUnit.h"

#include "WindowTestSupport.h"
#include "sync/setaside/Versions.h"
#include "tasks/TextTable.h"
#include "ui/SpinEdit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace duplora;

namespace {

QString q(int n) {
    return QString::fromStdString(Msg(n));
}

struct AdvFixture {
    TadvForm dlg;
    TaskRecord record = TaskRecord::MakeNew("desc");
    int changed = 0;

    AdvFixture() {
        dlg.ApplyTexts();
        dlg.OnChanged = [this] { ++changed; };
    }
    void showOn(TaskRecord& r) {
        dlg.setRecord(&r);
        dlg.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    }
};

} // namespace

TEST(AdvForm, ControlsCarryTheirNamesAndTexts) {
    AdvFixture f;
    for (const char* name :
         {"edNetName", "edNetPass", "chkOnlyType", "liOnlyType", "chkIgnore", "liIgnore",
          "chkDel",    "liDel",     "chkAuto",     "edSpeed",    "edErr",     "chk1Hour",
          "edShift",   "btnDef",    "btnOk",       "btnCancel",  "Label1",    "Label2",
          "Label3",    "Label4",    "lbShift"})
        EXPECT_NE(f.dlg.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(f.dlg.windowTitle(), q(102));
    EXPECT_EQ(f.dlg.chkAuto->toolTip(), q(38));
    EXPECT_EQ(f.dlg.chk1Hour->text(), q(124));
    EXPECT_EQ(f.dlg.btnCancel->text(), q(100));
    EXPECT_TRUE(f.dlg.btnOk->isDefault());
}

TEST(AdvForm, FolderTaskLoadsEveryFieldAndEnablesListsWithTheirBoxes) {
    AdvFixture f;
    f.record.set_only_masks_enabled(false);
    f.record.set_only_masks("*.doc\r\n");
    f.record.set_ignore_masks_enabled(true);
    f.record.set_ignore_masks("*.tmp\r\n*.bak\r\n");
    f.record.set_net_user("alice");
    f.showOn(f.record);
    EXPECT_EQ(f.dlg.liIgnore->toPlainText(), "*.tmp\n*.bak");
    EXPECT_EQ(f.dlg.liOnlyType->toPlainText(), "*.doc");
    EXPECT_TRUE(f.dlg.liIgnore->isEnabled());
    EXPECT_FALSE(f.dlg.liOnlyType->isEnabled());
    EXPECT_FALSE(f.dlg.liDel->isEnabled());
    EXPECT_TRUE(f.dlg.chkDel->isEnabled());
    EXPECT_EQ(f.dlg.edSpeed->value(), f.record.speed_limit());
    EXPECT_EQ(f.dlg.edSpeed->specialValueText(), "no limit"); // shown for 0
    EXPECT_EQ(f.dlg.edShift->value(), 2);
    // The password shows as stars; the user name as typed.
    EXPECT_EQ(f.dlg.edNetName->text(), "alice");
    EXPECT_EQ(f.dlg.edNetName->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(f.dlg.edNetPass->echoMode(), QLineEdit::Password);
    // Ticking a box enables its list.
    f.dlg.chkDel->click();
    EXPECT_TRUE(f.dlg.liDel->isEnabled());
    f.dlg.chkDel->click();
    EXPECT_FALSE(f.dlg.liDel->isEnabled());
}

TEST(AdvForm, FileTaskDisablesIgnoreAndDeleteAndDefaultsStillTicksIgnore) {
    AdvFixture f;
    f.record.set_sync_type(SyncType::File);
    f.record.set_ignore_masks_enabled(true);
    f.record.set_delete_masks_enabled(true);
    f.record.set_only_masks_enabled(true);
    TaskRecord before = f.record;
    f.showOn(f.record);
    EXPECT_FALSE(f.dlg.chkIgnore->isEnabled());
    EXPECT_FALSE(f.dlg.chkDel->isEnabled());
    EXPECT_TRUE(f.dlg.chkOnlyType->isEnabled());
    EXPECT_FALSE(f.dlg.liOnlyType->isEnabled());
    EXPECT_FALSE(f.dlg.liIgnore->isEnabled());
    EXPECT_FALSE(f.dlg.liDel->isEnabled());
    f.dlg.chkOnlyType->click(); // untick
    f.dlg.chkOnlyType->click(); // tick again: its list opens
    EXPECT_TRUE(f.dlg.liOnlyType->isEnabled());

    // Ok writes the shown (disabled) values back unchanged.
    f.dlg.btnOk->click();
    EXPECT_TRUE(f.record == before);
    EXPECT_EQ(f.changed, 1);

    f.record.set_ignore_masks_enabled(false);
    f.showOn(f.record);
    f.dlg.btnDef->click();
    EXPECT_TRUE(f.dlg.chkIgnore->isChecked());
    EXPECT_FALSE(f.dlg.chkIgnore->isEnabled());
    EXPECT_TRUE(f.dlg.liIgnore->isEnabled());
    EXPECT_EQ(f.dlg.liIgnore->toPlainText(), "*.tmp\n*.bak\n*.~*");
}

TEST(AdvForm, DefaultsThenCancelLeavesTheRecordAlone) {
    AdvFixture f;
    f.record.set_delete_masks_enabled(true);
    f.record.set_delete_masks("*.old\r\n");
    f.record.set_auto_mode(true);
    const TaskRecord before = f.record;
    f.showOn(f.record);
    f.dlg.edSpeed->setValue(42);
    f.dlg.btnDef->click();
    EXPECT_FALSE(f.dlg.chkDel->isChecked());
    EXPECT_FALSE(f.dlg.liDel->isEnabled());
    EXPECT_EQ(f.dlg.liDel->toPlainText(), "*.old"); // text kept
    EXPECT_FALSE(f.dlg.chkAuto->isChecked());
    EXPECT_EQ(f.dlg.edSpeed->value(), 42); // untouched by Defaults
    f.dlg.btnCancel->click();
    EXPECT_FALSE(f.dlg.isVisible());
    EXPECT_TRUE(f.record == before);
    EXPECT_EQ(f.changed, 0);
}

TEST(AdvForm, OkStoresEveryFieldAndMarksTheTaskListChanged) {
    AdvFixture f;
    f.showOn(f.record);
    f.dlg.edNetName->setText("bob");
    f.dlg.edNetPass->setText("pw");
    f.dlg.chkOnlyType->setChecked(true);
    f.dlg.liOnlyType->setPlainText("*.txt\n*.md");
    f.dlg.chkAuto->setChecked(true);
    f.dlg.edSpeed->setValue(256);
    f.dlg.edErr->setValue(0);
    f.dlg.chk1Hour->setChecked(false);
    f.dlg.edShift->setValue(0);
    f.dlg.btnOk->click();
    EXPECT_EQ(f.dlg.result(), QDialog::Accepted);
    EXPECT_EQ(f.changed, 1);
    EXPECT_EQ(f.record.net_user(), "bob");
    EXPECT_EQ(f.record.net_password(), "pw");
    EXPECT_TRUE(f.record.only_masks_enabled());
    EXPECT_EQ(f.record.only_masks(), "*.txt\r\n*.md\r\n");
    EXPECT_TRUE(f.record.auto_mode());
    EXPECT_EQ(f.record.speed_limit(), 256);
    EXPECT_EQ(f.record.max_errors(), 0);
    EXPECT_FALSE(f.record.ignore_hour_difference());
    EXPECT_DOUBLE_EQ(f.record.time_tolerance(), 0.00000001);
}

// The three answers are greyed out while the option is off, and Ok stores
// what the lists show.
TEST(AdvForm, RememberAnswersFollowTheirBoxAndAreStored) {
    AdvFixture f;
    f.showOn(f.record);
    EXPECT_FALSE(f.dlg.cbConflict->isEnabled());
    f.dlg.chkRemember->setChecked(true);
    EXPECT_TRUE(f.dlg.cbDeletedInHost->isEnabled() && f.dlg.cbConflict->isEnabled());
    f.dlg.cbDeletedInHost->setCurrentIndex(2);
    f.dlg.cbDeletedInMirror->setCurrentIndex(1);
    f.dlg.cbConflict->setCurrentIndex(2);
    f.dlg.btnOk->click();
    EXPECT_TRUE(f.record.remember_last_run());
    EXPECT_EQ(f.record.deleted_in_host_action(), SyncAction::Ignore);
    EXPECT_EQ(f.record.deleted_in_mirror_action(), SyncAction::HostToMirror);
    EXPECT_EQ(f.record.conflict_action(), ConflictAction::Skip);
}

TEST(AdvForm, OverlongTickedListIsRefusedWithTheErrorBoxAndNothingStored) {
    AdvFixture f;
    const TaskRecord before = f.record;
    f.showOn(f.record);
    f.dlg.activateWindow();
    f.dlg.chkDel->setChecked(true);
    f.dlg.liDel->setPlainText(QString(300, 'd'));
    f.dlg.edSpeed->setValue(1);
    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->windowTitle() + "|" + box->text();
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            box->accept();
        }
    });
    f.dlg.btnOk->click();
    EXPECT_EQ(shown, q(31) + "|" + q(101));
    EXPECT_TRUE(f.dlg.isVisible());
    EXPECT_EQ(f.dlg.focusWidget(), f.dlg.liDel);
    EXPECT_TRUE(f.record == before);
    EXPECT_EQ(f.changed, 0);

    // Unticking it lets Ok store the list cut to 255 bytes.
    f.dlg.chkDel->setChecked(false);
    f.dlg.btnOk->click();
    EXPECT_EQ(f.record.delete_masks().size(), 255u);
    EXPECT_EQ(f.changed, 1);
}

TEST(AdvForm, SpinFieldsBringTypedValuesIntoRangeOnLeaving) {
    AdvFixture f;
    f.showOn(f.record);
    QApplication::setActiveWindow(&f.dlg);
    f.dlg.edSpeed->setFocus();
    f.dlg.edSpeed->selectAll();
    QTest::keyClicks(f.dlg.edSpeed, "20000");
    f.dlg.edErr->setFocus(); // leave the field
    EXPECT_EQ(f.dlg.edSpeed->value(), 10000);
    EXPECT_EQ(f.dlg.edSpeed->text(), "10000");

    f.dlg.edShift->setFocus();
    f.dlg.edShift->selectAll();
    QTest::keyClicks(f.dlg.edShift, "123"); // two characters at most
    EXPECT_EQ(f.dlg.edShift->text(), "12");

    // Text still in a field when Ok is pressed counts too.
    f.dlg.edErr->setFocus();
    f.dlg.edErr->selectAll();
    QTest::keyClicks(f.dlg.edErr, "5000");
    f.dlg.btnOk->click();
    EXPECT_EQ(f.record.max_errors(), 999);
    EXPECT_EQ(f.record.speed_limit(), 10000);
    EXPECT_EQ(f.record.tolerance_seconds(), 12);
}

TEST(AdvForm, CredentialsAreLimitedWhenTypedButKeptWholeWhenLoaded) {
    AdvFixture f;
    f.record.set_net_password(std::string(20, 'p'));
    f.showOn(f.record);
    EXPECT_EQ(f.dlg.edNetPass->text().size(), 20);
    f.dlg.edNetName->setFocus();
    QTest::keyClicks(f.dlg.edNetName, QString(20, 'n'));
    EXPECT_EQ(f.dlg.edNetName->text(), QString(15, 'n'));
    f.dlg.btnOk->click();
    EXPECT_EQ(f.record.net_password(), std::string(20, 'p'));
    EXPECT_EQ(f.record.net_user(), std::string(15, 'n'));
}

TEST(AdvForm, InvalidMaskIsRefusedOnOkWithItsMessageAndNothingStored) {
    AdvFixture f;
    const TaskRecord before = f.record;
    f.showOn(f.record);
    f.dlg.activateWindow();
    f.dlg.chkIgnore->setChecked(true);
    f.dlg.liIgnore->setPlainText(QStringLiteral("*.tmp\n[abc"));
    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->windowTitle() + "|" + box->text();
            box->accept();
        }
    });
    f.dlg.btnOk->click();
    EXPECT_EQ(shown, q(31) + "|'[abc' is an invalid mask at (1)");
    EXPECT_TRUE(f.dlg.isVisible());
    EXPECT_EQ(f.dlg.focusWidget(), f.dlg.liIgnore);
    EXPECT_TRUE(f.record == before);
    EXPECT_EQ(f.changed, 0);

    // The same text in a list that is switched off is not in use: Ok stores.
    f.dlg.chkIgnore->setChecked(false);
    f.dlg.btnOk->click();
    EXPECT_EQ(f.changed, 1);
}

TEST(AdvForm, SafetyOptionsRoundTripAndABadVersionsFolderIsRefused) {
    AdvFixture f;
    f.record.set_host_path("/srv/host");
    f.record.set_mirror_path("/srv/mirror");
    f.record.set_on_delete(DeleteMode::Trash);
    f.record.set_delete_limit(40);
    f.record.set_versions_folder("kept");
    f.showOn(f.record);
    f.dlg.activateWindow();
    EXPECT_EQ(f.dlg.cbOnDelete->currentIndex(), 1);
    EXPECT_EQ(f.dlg.cbOnDelete->itemText(2), q(215));
    EXPECT_EQ(f.dlg.edDelLimit->value(), 40);
    EXPECT_EQ(f.dlg.edVersions->text(), QStringLiteral("kept"));
    EXPECT_FALSE(f.dlg.edVersions->isEnabled()) << "only for the versioning folder";
    f.dlg.cbOnDelete->setCurrentIndex(2);
    EXPECT_TRUE(f.dlg.edVersions->isEnabled());

    // Ok, and the text of the error box it showed ("" for none).
    auto ok = [&] {
        QString shown;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->accept();
            }
        });
        f.dlg.btnOk->click();
        return shown;
    };
    const TaskRecord before = f.record;
    struct Refused {
        QString folder;
        std::string message;
    };
    TaskRecord outside = f.record;
    outside.set_on_delete(DeleteMode::Versions);
    outside.set_versions_folder("../old");
    const Refused refused[] = {
        // 4,096 bytes: refused, never cut to fit.
        {QString(4096, QChar('v')), MsgFill(219, "4095", "4096")},
        {QStringLiteral("../old"), VersionsFolderProblem(outside)},
    };
    for (const Refused& r : refused) {
        f.dlg.edVersions->setText(r.folder);
        EXPECT_FALSE(r.message.empty());
        EXPECT_EQ(ok(), QString::fromStdString(r.message));
        EXPECT_EQ(f.dlg.focusWidget(), f.dlg.edVersions);
        EXPECT_TRUE(f.record == before);
        EXPECT_EQ(f.changed, 0);
    }

    // Longer than the record's 29 bytes: kept outside it.
    const std::string folder = "/media/usb/Backups/Old versions of " + std::string(200, 'x');
    f.dlg.edVersions->setText(QString::fromStdString(folder));
    f.dlg.edDelLimit->setValue(100); // the box stops at 99
    // DUPLORA_SCREENSHOT_ADV saves the dialog for the README
    // (scripts/screenshot-preview.sh).
    if (const char* path = std::getenv("DUPLORA_SCREENSHOT_ADV")) {
        f.dlg.edDelLimit->setValue(40);
        QCoreApplication::processEvents();
        EXPECT_TRUE(f.dlg.grab().save(QString::fromLocal8Bit(path)));
        f.dlg.edDelLimit->setValue(99);
    }
    EXPECT_EQ(ok(), QString());
    EXPECT_EQ(f.changed, 1);
    EXPECT_EQ(f.record.on_delete(), DeleteMode::Versions);
    EXPECT_EQ(f.record.versions_folder(), folder);
    EXPECT_EQ(f.record.delete_limit(), 99);
}

// Choosing "Move to the trash" for a task on a share says at once that its
// runs will be refused; for a local task it says nothing.
TEST(AdvForm, TrashForAShareIsToldWhenChosen) {
    SetLanguage(Language::English);
    const struct {
        const char* mirror;
        bool told;
    } cases[] = {{"smb://nas/backup", true}, {"/media/disk", false}};
    for (const auto& c : cases) {
        AdvFixture f;
        duplora::testing::BoxScript boxes;
        f.record.set_host_path("/home/anna");
        f.record.set_mirror_path(c.mirror);
        f.showOn(f.record);
        f.dlg.cbOnDelete->setCurrentIndex(static_cast<int>(DeleteMode::Trash));
        emit f.dlg.cbOnDelete->activated(static_cast<int>(DeleteMode::Trash));
        ASSERT_EQ(boxes.seen.size(), c.told ? 1u : 0u) << c.mirror;
        if (c.told) {
            EXPECT_EQ(boxes.seen[0].text, MsgFill(261, c.mirror));
        }
    }
}

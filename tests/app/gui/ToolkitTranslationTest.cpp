// The toolkit's own texts (a question's standard buttons) follow the
// interface language once Qt's translations are loaded.
#include "app/gui/StartUp.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>

namespace duplora::testing {
namespace {

QString YesText() {
    QMessageBox box(QMessageBox::Question, "t", "q", QMessageBox::Yes | QMessageBox::No);
    return box.button(QMessageBox::Yes)->text();
}

TEST(ToolkitTranslation, StandardButtonsFollowTheInterfaceLanguage) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFileInfo::exists(folder + "/qtbase_zh_CN.qm") ||
        !QFileInfo::exists(folder + "/qtbase_zh_TW.qm"))
        GTEST_SKIP() << "Qt's translations are not installed in " << folder.toStdString()
                     << " (Debian package qt6-translations-l10n)";
    ASSERT_TRUE(LoadToolkitTranslations(Language::English));
    const QString english = YesText();

    ASSERT_TRUE(LoadToolkitTranslations(Language::SimplifiedChinese));
    const QString simplified = YesText();
    ASSERT_TRUE(LoadToolkitTranslations(Language::TraditionalChinese));
    const QString traditional = YesText();
    EXPECT_NE(simplified, english);
    EXPECT_NE(traditional, english);
    EXPECT_TRUE(simplified.contains(QChar(0x662F))) << simplified.toStdString(); // 是

    // Back to English: the translation is removed again.
    ASSERT_TRUE(LoadToolkitTranslations(Language::English));
    EXPECT_EQ(YesText(), english);
}

} // namespace
} // namespace duplora::testing

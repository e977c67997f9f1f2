// Every window opens inside the screen and can be made smaller than it: at
// 100 % on 1280x720 and at 200 % on 2560x1440 (the same logical area, but
// fonts, icons and frames scaled), and shrinkable onto an 800x500 logical
// screen (1600x1000 at 200 %).
#include "ui/MainForm.h"
#include "ui/ScreenFit.h"

#include "WindowTestSupport.h"
#include "ui/AboutU.h"
#include "ui/AdvUnit.h"
#include "ui/SyncForm.h"
#include "ui/SyncResult.h"
#include "ui/TreeVUnit.h"
#include "ui/addDirU.h"

#include <QLayout>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QToolButton>

namespace duplora {
namespace {

class WindowSizes : public testing::WindowsFixture {};

TEST_F(WindowSizes, EveryWindowFitsTheScreenAndShrinksOntoASmallOne) {
    // 1280x720 at 100 % and 2560x1440 at 200 % are the same logical area.
    const QSize room = QSize(1280, 720) - QSize(kFrameAllowanceX, kFrameAllowanceY);
    const QSize smallRoom = QSize(800, 500) - QSize(kFrameAllowanceX, kFrameAllowanceY);
    AppWindows& w = *windows_;
    const std::pair<const char*, QWidget*> windows[] = {
        {"main", w.cltForm.get()}, {"progress", w.SyncForm}, {"preview", w.TreeVForm},
        {"result", w.resForm},     {"advanced", w.advForm},  {"add folder", w.dirForm},
        {"about", w.AboutForm},
    };
    for (const auto& [name, win] : windows) {
        if (win->layout())
            win->layout()->activate();
        const QSize opens = win == w.cltForm.get() ? w.cltForm->NaturalSize() : win->size();
        const QSize hint = win->sizeHint();
        const QSize least =
            win->minimumSize().isEmpty() ? win->minimumSizeHint() : win->minimumSize();
        std::printf("%-10s opens %4dx%-4d hint %4dx%-4d least %4dx%-4d (scale %.0f)\n", name,
                    opens.width(), opens.height(), hint.width(), hint.height(), least.width(),
                    least.height(), QGuiApplication::primaryScreen()->devicePixelRatio());
        EXPECT_TRUE(room.expandedTo(opens) == room) << name;
        EXPECT_TRUE(room.expandedTo(hint) == room) << name;
        EXPECT_TRUE(smallRoom.expandedTo(least) == smallRoom) << name;
    }
    EXPECT_EQ(w.TreeVForm->btnShowAll->toolTip(), QStringLiteral("Show all files"));
    EXPECT_EQ(w.TreeVForm->btnHideEqu->toolTip(),
              QStringLiteral("Hide files without an operation"));
}

TEST(ScreenFit, AWindowTooLargeForTheScreenIsShrunkAndKeptInside) {
    const QRect screen(0, 0, 800, 500);
    const struct {
        QSize wanted, minimum;
        QRect centreOn;
    } cases[] = {
        {{1046, 1110}, {0, 0}, {}},                 // the main window at 200 % before
        {{1600, 1100}, {230, 120}, {}},             // the preview at 200 % before
        {{400, 300}, {0, 0}, {600, 400, 400, 300}}, // a parent near the corner
        {{400, 300}, {900, 900}, {}},               // a minimum above the screen loses
    };
    for (const auto& c : cases) {
        const QRect r = FittedGeometry(c.wanted, c.minimum, screen, c.centreOn);
        EXPECT_TRUE(screen.contains(
            r.adjusted(-kFrameAllowanceX / 2, -kFrameAllowanceY + 8, kFrameAllowanceX / 2, 0)))
            << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
    }
    // Room enough: the size is kept and the window is centred on the parent.
    const QRect parent(100, 100, 600, 300);
    EXPECT_EQ(FittedGeometry({200, 100}, {}, screen, parent), QRect(300, 200, 200, 100));
}

TEST(ScreenFit, TheSameWindowsFitAtScaleTwo) {
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        GTEST_SKIP() << "already the scaled run";
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "2");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QCoreApplication::applicationFilePath(),
            {"--gtest_filter=WindowSizes.EveryWindowFitsTheScreenAndShrinksOntoASmallOne"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QByteArray out = p.readAll();
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("(scale 2)")) << out.toStdString();
}

} // namespace
} // namespace duplora

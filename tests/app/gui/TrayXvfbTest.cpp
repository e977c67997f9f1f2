// The real program in a real X session: Xvfb with Debian's `trayer` as the
// notification area. Started with "/H" it minimises into the tray; a click
// on its icon (xdotool) brings the window back and removes the icon.

#include "TestPaths.h"
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

namespace duplora {
namespace {

bool WaitUntil(const std::function<bool()>& done, int ms = 15000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        QThread::msleep(50);
    }
    return done();
}

class TrayXvfbTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Stopped by their own process ids, last started first.
        for (QProcess* p : {&program_, &trayer_, &xvfb_}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }

    // Xvfb picks a free display itself and writes its number to the pipe.
    bool StartXvfb(std::string& reason) {
        int fds[2];
        if (::pipe(fds) != 0) {
            reason = "no pipe";
            return false;
        }
        xvfb_.setChildProcessModifier([fd = fds[0]] { ::close(fd); });
        xvfb_.start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QString::number(fds[1]),
                     QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("800x600x24"),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        ::close(fds[1]);
        if (!xvfb_.waitForStarted(5000)) {
            ::close(fds[0]);
            reason = "Xvfb cannot be started (Debian package xvfb)";
            return false;
        }
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        std::string number;
        WaitUntil([&] {
            char c;
            while (::read(fds[0], &c, 1) == 1)
                if (c != '\n')
                    number += c;
                else
                    return true;
            return xvfb_.state() == QProcess::NotRunning;
        });
        ::close(fds[0]);
        if (number.empty()) {
            reason = "Xvfb did not start a display: " + xvfb_.readAllStandardError().toStdString();
            return false;
        }
        display_ = QStringLiteral(":") + QString::fromStdString(number);
        return true;
    }

    QProcessEnvironment Env() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display_);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("WAYLAND_DISPLAY");
        return env;
    }

    // xdotool's window ids, one a line; empty when none matched.
    QStringList Xdotool(const QStringList& args) {
        QProcess x;
        x.setProcessEnvironment(Env());
        x.start(QStringLiteral("xdotool"), args);
        x.waitForFinished(10000);
        return QString::fromUtf8(x.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
    QStringList VisibleWindows(const QStringList& extra = {}) {
        return Xdotool(QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                   QStringLiteral("--pid"), QString::number(program_.processId())} +
                       extra);
    }

    QProcess xvfb_, trayer_, program_;
    QString display_;
};

TEST_F(TrayXvfbTest, StartsHiddenInARealTrayAndAClickBringsTheWindowBack) {
    std::string reason;
    if (!StartXvfb(reason))
        GTEST_SKIP() << reason;
    ASSERT_TRUE(QFile::exists(QStringLiteral("/usr/bin/trayer")))
        << "trayer is missing (scripts/install-deps.sh installs it)";
    ASSERT_TRUE(QFile::exists(QStringLiteral("/usr/bin/xdotool")))
        << "xdotool is missing (scripts/install-deps.sh installs it)";
    trayer_.setProcessEnvironment(Env());
    trayer_.start(QStringLiteral("trayer"),
                  {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--widthtype"),
                   QStringLiteral("pixel"), QStringLiteral("--width"), QStringLiteral("120"),
                   QStringLiteral("--heighttype"), QStringLiteral("pixel"),
                   QStringLiteral("--height"), QStringLiteral("32")});
    ASSERT_TRUE(trayer_.waitForStarted(5000));
    ASSERT_TRUE(WaitUntil([&] {
        return !Xdotool({QStringLiteral("search"), QStringLiteral("--classname"),
                         QStringLiteral("trayer")})
                    .isEmpty();
    })) << "trayer showed no window";

    QTemporaryDir home;
    QProcessEnvironment env = Env();
    env.insert("DUPLORA_HOME", home.path());
    env.insert("DUPLORA_REGISTRY_DIR", home.path());
    env.insert("LANG", "C.UTF-8");
    program_.setProcessEnvironment(env);
    program_.start(QStringLiteral(DUPLORA_GUI_PATH), {QStringLiteral("/H")});
    ASSERT_TRUE(program_.waitForStarted(10000));

    // In the tray: the only mapped window of the program is its icon, a
    // small one embedded in trayer; the main window is hidden.
    QStringList icon;
    ASSERT_TRUE(WaitUntil([&] {
        icon = VisibleWindows();
        if (icon.size() != 1)
            return false;
        const QString geometry = Xdotool({QStringLiteral("getwindowgeometry"), icon[0]}).join(' ');
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("Geometry: (\\d+)x")).match(geometry);
        return m.hasMatch() && m.captured(1).toInt() <= 64;
    })) << "no tray icon alone: "
        << icon.join(' ').toStdString();

    // The main window is back and the icon gone. Under load the icon can be
    // mapped a moment before trayer hands it the pointer, so a click that got
    // lost is given again, up to four times. The pointer leaves the icon right
    // after each click, so that a lost click does not leave it resting there
    // until the icon's tool tip opens (a window of its own).
    const auto back = [&] {
        const QStringList shown = VisibleWindows();
        return shown.size() == 1 && shown[0] != icon[0];
    };
    bool shownAgain = false;
    for (int attempt = 0; attempt < 4 && !shownAgain; ++attempt) {
        Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon[0],
                 QStringLiteral("4"), QStringLiteral("4"), QStringLiteral("click"),
                 QStringLiteral("1"), QStringLiteral("mousemove"), QStringLiteral("400"),
                 QStringLiteral("500")});
        shownAgain = WaitUntil(back, 4000);
    }
    EXPECT_TRUE(shownAgain) << "after the click: " << VisibleWindows().join(' ').toStdString();
    EXPECT_EQ(program_.state(), QProcess::Running);
}

} // namespace
} // namespace duplora

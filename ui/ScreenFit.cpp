#include "ui/ScreenFit.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QScreen>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace duplora {

namespace {
constexpr const char* kFittedProperty = "duploraFitted";
} // namespace

QRect FittedGeometry(QSize wanted, QSize minimum, const QRect& available, const QRect& centreOn) {
    const int maxW = std::max(available.width() - kFrameAllowanceX, 1);
    const int maxH = std::max(available.height() - kFrameAllowanceY, 1);
    // A minimum larger than the screen loses: a window that cannot be seen
    // whole is worse than one squeezed below its comfortable size.
    const QSize size(std::clamp(wanted.width(), std::min(minimum.width(), maxW), maxW),
                     std::clamp(wanted.height(), std::min(minimum.height(), maxH), maxH));
    const QPoint centre = centreOn.isEmpty() ? available.center() : centreOn.center();
    QRect r(QPoint(0, 0), size);
    r.moveCenter(centre);
    // Keep the title bar (frame allowance above the client area) on screen.
    const int left = available.left() + kFrameAllowanceX / 2;
    const int top = available.top() + kFrameAllowanceY - kFrameAllowanceX / 2;
    const int right = available.right() - kFrameAllowanceX / 2;
    const int bottom = available.bottom() - kFrameAllowanceX / 2;
    if (r.right() > right)
        r.moveRight(right);
    if (r.bottom() > bottom)
        r.moveBottom(bottom);
    if (r.left() < left)
        r.moveLeft(left);
    if (r.top() < top)
        r.moveTop(top);
    return r;
}

void FitToScreen(QWidget* window) {
    QWidget* parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    const QScreen* screen = parent && parent->isVisible() ? parent->screen() : window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect centreOn = parent && parent->isVisible() ? parent->geometry() : QRect();
    const QRect r = FittedGeometry(window->size(), window->minimumSize(),
                                   screen->availableGeometry(), centreOn);
    if (r.size() != window->size()) {
        // A window of fixed size gives up its fixed size rather than its
        // place on the screen.
        window->setMinimumSize(window->minimumSize().boundedTo(r.size()));
        window->resize(r.size());
    }
    window->move(r.topLeft());
}

void ScreenFitter::Install() {
    static ScreenFitter* fitter = nullptr;
    if (fitter || !qApp)
        return;
    fitter = new ScreenFitter(qApp);
    qApp->installEventFilter(fitter);
}

bool ScreenFitter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        // Menus and tool tips place themselves; message boxes are small. A
        // window that bypasses the window manager is placed by someone else:
        // the notification-area icon is put into its slot by the desktop's
        // tray, and moving it there pushed it out of the slot, out of reach
        // of any click.
        if (!w->isWindow() || event->spontaneous() || qobject_cast<QMenu*>(w) ||
            w->windowType() == Qt::ToolTip || w->windowType() == Qt::Popup ||
            (w->windowFlags() & Qt::BypassWindowManagerHint) || w->inherits("QSystemTrayIconSys"))
            return false;
        // A dialog is centred on its parent at every showing; a window of its
        // own only when it first opens, so that it stays where the user put
        // it when it comes back (the main window after each run).
        if (!w->parentWidget()) {
            if (w->property(kFittedProperty).toBool())
                return false;
            w->setProperty(kFittedProperty, true);
        }
        FitToScreen(w);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace duplora

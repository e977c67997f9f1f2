#pragma once
// Every window opens inside the available area of its screen: no larger
// than that area (less room for the title bar and frame), centred on its
// parent window, or on the screen for a window without one.

#include <QObject>
#include <QRect>
#include <QSize>

class QWidget;

namespace duplora {

// Room the window manager's title bar and borders take around a window that
// has not been shown yet; a shown window's real frame is used instead.
constexpr int kFrameAllowanceX = 16;
constexpr int kFrameAllowanceY = 48;

// The geometry (client area) a window of `wanted` size gets on a screen with
// `available` area, centred on `centreOn` (empty: the area's centre).
QRect FittedGeometry(QSize wanted, QSize minimum, const QRect& available, const QRect& centreOn);

// Resizes and moves `window` as FittedGeometry says, on the screen of its
// parent (or its own).
void FitToScreen(QWidget* window);

// Installed on the application: fits every top-level window of the program
// as it is shown for the first time, and again when it is shown once more
// after its size or screen changed.
class ScreenFitter : public QObject {
public:
    using QObject::QObject;
    static void Install();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace duplora

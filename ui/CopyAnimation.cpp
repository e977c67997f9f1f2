#include "ui/CopyAnimation.h"

#include <QPainter>
#include <QPainterPath>

namespace duplora {

namespace {

void DrawFolder(QPainter& p, const QRectF& r) {
    QPainterPath path;
    const qreal tab = r.width() * 0.4;
    path.moveTo(r.left(), r.top() + 6);
    path.lineTo(r.left() + 4, r.top());
    path.lineTo(r.left() + tab, r.top());
    path.lineTo(r.left() + tab + 5, r.top() + 6);
    path.lineTo(r.right(), r.top() + 6);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(QPen(QColor(150, 110, 20), 1.2));
    p.setBrush(QColor(240, 200, 80));
    p.drawPath(path);
}

void DrawSheet(QPainter& p, const QPointF& centre) {
    const QRectF sheet(centre.x() - 7, centre.y() - 9, 14, 18);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(Qt::white);
    p.drawRect(sheet);
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(sheet.left() + 3, sheet.top() + 5 + 4 * i),
                   QPointF(sheet.right() - 3, sheet.top() + 5 + 4 * i));
}

} // namespace

TCopyAnimation::TCopyAnimation(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SyncAnim"));
    setMinimumSize(sizeHint());
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrames;
        update();
    });
}

void TCopyAnimation::start() {
    if (!timer_.isActive())
        timer_.start();
}

void TCopyAnimation::stop() {
    timer_.stop();
    frame_ = 0;
    update();
}

void TCopyAnimation::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal h = height();
    const qreal folderW = 48, folderH = 36;
    const QRectF from(width() / 2.0 - 110, h - folderH - 6, folderW, folderH);
    const QRectF to(width() / 2.0 + 62, h - folderH - 6, folderW, folderH);
    DrawFolder(p, from);
    DrawFolder(p, to);
    if (!running())
        return;
    // The sheet follows a flat arc from one folder's mouth to the other's.
    const qreal t = static_cast<qreal>(frame_) / (kFrames - 1);
    const qreal x = from.center().x() + t * (to.center().x() - from.center().x());
    const qreal y = from.top() + 4 - 4 * (h - folderH - 14) * t * (1 - t);
    DrawSheet(p, QPointF(x, y));
}

} // namespace duplora

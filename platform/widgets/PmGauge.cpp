#include "platform/widgets/PmGauge.h"

#include <QPainter>

#include <algorithm>
#include <limits>
#include <string>

namespace duplora {

namespace {

constexpr std::int32_t kLowestBound = -2147483647; // the lowest MinValue the error names
constexpr std::int32_t kHighestBound = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void throwRange(std::int64_t low, std::int64_t high) {
    throw EPmGaugeError("Value must be between " + std::to_string(low) + " and " +
                        std::to_string(high));
}

} // namespace

int GaugePercent(std::int32_t minValue, std::int32_t maxValue, std::int32_t progress) {
    const std::int64_t span = std::int64_t{maxValue} - minValue;
    if (span == 0)
        return 0;
    const std::int64_t done = std::int64_t{progress} - minValue;
    const std::int64_t percent = done * 100 / span; // C++ division truncates toward zero
    return static_cast<int>(std::clamp<std::int64_t>(percent, 0, 100));
}

GaugeGeometry ComputeGaugeGeometry(const QRect& client, bool border, int percent, bool showText,
                                   QSize textSize) {
    GaugeGeometry g;
    g.bar = border ? client.adjusted(1, 1, -1, -1) : client;
    const int w = std::max(0, g.bar.width());
    g.filled = std::clamp(static_cast<int>(std::int64_t{w} * percent / 100), 0, w);
    if (showText && g.filled >= textSize.width() && g.filled > 0) {
        g.drawText = true;
        // Centred in the filled part and in the bar's height; both halves
        // truncate toward zero.
        const int x = (g.filled + 1 - g.bar.left() - textSize.width()) / 2;
        const int y = (g.bar.bottom() + 1 - g.bar.top() - textSize.height()) / 2;
        g.textTopLeft = QPoint(x, y);
    }
    return g;
}

TPmGauge::TPmGauge(QWidget* parent) : QWidget(parent) {
    // The whole surface is painted every time: no background erase, hence no
    // flicker; the backing store then shows the finished picture in one piece.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    resize(100, 100);
}

QSize TPmGauge::sizeHint() const {
    return QSize(100, fontMetrics().height() + 6);
}

void TPmGauge::requestRepaint() {
    ++repaintRequests_;
    update();
}

void TPmGauge::setProgress(std::int32_t v) {
    if (v < minValue_)
        v = minValue_;
    else if (v > maxValue_)
        v = maxValue_;
    if (v == progress_)
        return;
    const int before = PercentDone();
    progress_ = v;
    if (PercentDone() != before)
        requestRepaint();
}

void TPmGauge::setMinValue(std::int32_t v) {
    if (v == minValue_)
        return;
    if (v > maxValue_ && !loading_)
        throwRange(kLowestBound, std::int64_t{maxValue_} - 1);
    minValue_ = v;
    if (progress_ < minValue_)
        progress_ = minValue_;
    requestRepaint();
}

void TPmGauge::setMaxValue(std::int32_t v) {
    if (v == maxValue_)
        return;
    if (v < minValue_ && !loading_)
        throwRange(std::int64_t{minValue_} + 1, kHighestBound);
    maxValue_ = v;
    if (progress_ > maxValue_)
        progress_ = maxValue_;
    requestRepaint();
}

void TPmGauge::setShowText(bool on) {
    if (on == showText_)
        return;
    showText_ = on;
    requestRepaint();
}

void TPmGauge::setBorderStyle(TBorderStyle s) {
    if (s == borderStyle_)
        return;
    borderStyle_ = s;
    requestRepaint();
}

void TPmGauge::setForeColor(const QColor& c) {
    if (c == foreColor_)
        return;
    foreColor_ = c;
    requestRepaint();
}

void TPmGauge::setBackColor(const QColor& c) {
    if (c == backColor_)
        return;
    backColor_ = c;
    requestRepaint();
}

void TPmGauge::setTextColor(const QColor& c) {
    if (c == textColor_)
        return;
    textColor_ = c;
    requestRepaint();
}

void TPmGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect client = rect();
    p.fillRect(client, Qt::black); // what stays of it is the 1-pixel frame

    const int percent = PercentDone();
    const QString text = QString::number(percent) + QLatin1Char('%');
    const QFontMetrics fm(font());
    const GaugeGeometry g =
        ComputeGaugeGeometry(client, borderStyle_ == bsSingle, percent, showText_,
                             QSize(fm.horizontalAdvance(text), fm.height()));
    p.fillRect(g.bar, backColor_);
    if (g.filled > 0)
        p.fillRect(QRect(g.bar.left(), g.bar.top(), g.filled, g.bar.height()), foreColor_);
    if (g.drawText) {
        p.setClipRect(g.bar);
        p.setFont(font());
        p.setPen(textColor_);
        p.drawText(QRect(g.textTopLeft, QSize(fm.horizontalAdvance(text), fm.height())),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    }
}

} // namespace duplora

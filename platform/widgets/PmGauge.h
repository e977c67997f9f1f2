#pragma once
// TPmGauge: a horizontal progress bar drawn by the program, with the percent
// done written in the middle of the filled part. The progress window updates
// two of them after every copied chunk, so a change of Progress that does not
// change the whole percent costs nothing but a few comparisons.

#include <QColor>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <cstdint>
#include <stdexcept>

namespace duplora {

// Raised when MinValue or MaxValue is set to a value that would cross the
// other bound.
class EPmGaugeError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Percent done, truncated toward zero: 0 when MaxValue equals MinValue, and
// never outside 0..100 (bounds loaded crossed from a stored form would
// otherwise give a negative bar). Computed in 64 bits: the difference of two
// 32-bit values does not fit in 32 bits.
int GaugePercent(std::int32_t minValue, std::int32_t maxValue, std::int32_t progress);

// Where the parts of the gauge go for a client rectangle, in that rectangle's
// coordinates.
struct GaugeGeometry {
    QRect bar;      // the area inside the frame
    int filled = 0; // width of the filled part, 0..bar.width()
    bool drawText = false;
    QPoint textTopLeft; // valid when drawText
};
GaugeGeometry ComputeGaugeGeometry(const QRect& client, bool border, int percent, bool showText,
                                   QSize textSize);

class TPmGauge : public QWidget {
    Q_OBJECT
public:
    enum TBorderStyle { bsNone, bsSingle };

    explicit TPmGauge(QWidget* parent = nullptr);

    std::int32_t MinValue() const { return minValue_; }
    void setMinValue(std::int32_t v);
    std::int32_t MaxValue() const { return maxValue_; }
    void setMaxValue(std::int32_t v);
    std::int32_t Progress() const { return progress_; }
    void setProgress(std::int32_t v);
    bool ShowText() const { return showText_; }
    void setShowText(bool on);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void setBorderStyle(TBorderStyle s);
    QColor ForeColor() const { return foreColor_; }
    void setForeColor(const QColor& c);
    QColor BackColor() const { return backColor_; }
    void setBackColor(const QColor& c);
    // Colour of the percentage text; its font is the widget's font.
    QColor TextColor() const { return textColor_; }
    void setTextColor(const QColor& c);

    int PercentDone() const { return GaugePercent(minValue_, maxValue_, progress_); }

    // While loading from a stored form the bounds are taken as they come,
    // even crossed, without an error.
    void setLoading(bool on) { loading_ = on; }
    bool loading() const { return loading_; }

    // Number of repaints requested so far (tests check that sub-percent steps
    // request none).
    int repaintRequests() const { return repaintRequests_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void requestRepaint();

    std::int32_t minValue_ = 0;
    std::int32_t maxValue_ = 100;
    std::int32_t progress_ = 0;
    bool showText_ = true;
    TBorderStyle borderStyle_ = bsSingle;
    QColor foreColor_ = Qt::black;
    QColor backColor_ = Qt::white;
    QColor textColor_ = Qt::black;
    bool loading_ = false;
    int repaintRequests_ = 0;
};

} // namespace duplora

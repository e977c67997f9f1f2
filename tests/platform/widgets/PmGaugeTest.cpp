#include "platform/widgets/PmGauge.h"

#include <QApplication>
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

#include <climits>

using namespace duplora;

TEST(PmGaugeRules, PercentTruncatesClampsAndSurvivesExtremeBounds) {
    EXPECT_EQ(GaugePercent(0, 100, 42), 42);
    EXPECT_EQ(GaugePercent(0, 1000, 1), 0);    // under one percent
    EXPECT_EQ(GaugePercent(0, 1000, 999), 99); // truncated, not rounded
    EXPECT_EQ(GaugePercent(5, 5, 5), 0);       // no span
    EXPECT_EQ(GaugePercent(-50, 50, 0), 50);
    // The span of the widest bounds does not fit in 32 bits.
    EXPECT_EQ(GaugePercent(-2147483647, INT_MAX, INT_MAX), 100);
    EXPECT_EQ(GaugePercent(-2147483647, INT_MAX, 0), 50);
    EXPECT_EQ(GaugePercent(-2147483647, INT_MAX, -2), 49);
    EXPECT_EQ(GaugePercent(INT_MIN, INT_MAX, INT_MIN), 0);
    // Bounds loaded crossed never give a bar outside 0..100.
    EXPECT_EQ(GaugePercent(10, 0, 0), 100);
    EXPECT_EQ(GaugePercent(10, 0, 20), 0);
}

TEST(PmGaugeRules, GeometryOfBarFillAndText) {
    const QSize text(30, 14);
    // 340 pixels with a frame: the bar is 338 wide; 3 % fills 10 pixels,
    // too narrow for the text.
    GaugeGeometry g = ComputeGaugeGeometry(QRect(0, 0, 340, 20), true, 3, true, text);
    EXPECT_EQ(g.bar, QRect(1, 1, 338, 18));
    EXPECT_EQ(g.filled, 10);
    EXPECT_FALSE(g.drawText);
    // 50 %: 169 pixels, text centred in the left half and in the height.
    g = ComputeGaugeGeometry(QRect(0, 0, 340, 20), true, 50, true, text);
    EXPECT_EQ(g.filled, 169);
    ASSERT_TRUE(g.drawText);
    EXPECT_EQ(g.textTopLeft, QPoint((169 + 1 - 1 - 30) / 2, (18 + 1 - 1 - 14) / 2));
    // The text appears exactly when the filled part is as wide as the text.
    g = ComputeGaugeGeometry(QRect(0, 0, 100, 20), false, 30, true, text);
    EXPECT_EQ(g.bar, QRect(0, 0, 100, 20));
    EXPECT_EQ(g.filled, 30);
    EXPECT_TRUE(g.drawText);
    EXPECT_FALSE(ComputeGaugeGeometry(QRect(0, 0, 100, 20), false, 29, true, text).drawText);
    EXPECT_FALSE(ComputeGaugeGeometry(QRect(0, 0, 100, 20), false, 100, false, text).drawText);
    // A gauge too small for its frame has an empty bar, never a negative fill.
    g = ComputeGaugeGeometry(QRect(0, 0, 1, 1), true, 100, true, text);
    EXPECT_EQ(g.filled, 0);
}

TEST(PmGauge, ProgressStaysWithinBoundsAndBoundsPushIt) {
    TPmGauge g;
    EXPECT_EQ(g.size(), QSize(100, 100));
    g.setProgress(150);
    EXPECT_EQ(g.Progress(), 100);
    EXPECT_EQ(g.PercentDone(), 100);
    g.setProgress(-3);
    EXPECT_EQ(g.Progress(), 0);
    g.setProgress(80);
    g.setMaxValue(50); // lowers Progress with it
    EXPECT_EQ(g.Progress(), 50);
    g.setMinValue(20);
    g.setProgress(10);
    EXPECT_EQ(g.Progress(), 20);
    g.setMaxValue(20); // equal bounds: nothing done
    EXPECT_EQ(g.PercentDone(), 0);
    g.setProgress(1000);
    EXPECT_EQ(g.PercentDone(), 0);
}

TEST(PmGauge, CrossedBoundsAreRefusedExceptWhileLoading) {
    TPmGauge g;
    g.setMinValue(10);
    try {
        g.setMaxValue(5);
        FAIL() << "no error";
    } catch (const EPmGaugeError& e) {
        EXPECT_STREQ(e.what(), "Value must be between 11 and 2147483647");
    }
    EXPECT_EQ(g.MaxValue(), 100);
    try {
        g.setMinValue(101);
        FAIL() << "no error";
    } catch (const EPmGaugeError& e) {
        EXPECT_STREQ(e.what(), "Value must be between -2147483647 and 99");
    }
    EXPECT_EQ(g.MinValue(), 10);

    g.setLoading(true);
    EXPECT_NO_THROW(g.setMaxValue(5));
    EXPECT_NO_THROW(g.setMinValue(50));
    g.setLoading(false);
    EXPECT_EQ(g.MinValue(), 50);
    EXPECT_EQ(g.MaxValue(), 5);
}

TEST(PmGauge, RepaintsOnlyWhenTheShownPercentOrAPropertyChanges) {
    TPmGauge g;
    g.resize(340, 20);
    g.setMaxValue(1000);
    const int base = g.repaintRequests();
    for (int v = 0; v <= 9; ++v)
        g.setProgress(v); // all 0 %
    EXPECT_EQ(g.repaintRequests(), base);
    g.setProgress(10); // 1 %
    EXPECT_EQ(g.repaintRequests(), base + 1);
    g.setProgress(19); // still 1 %
    g.setProgress(19);
    EXPECT_EQ(g.repaintRequests(), base + 1);
    g.setShowText(true); // unchanged property
    g.setForeColor(Qt::black);
    EXPECT_EQ(g.repaintRequests(), base + 1);
    g.setBackColor(Qt::yellow);
    g.setBorderStyle(TPmGauge::bsNone);
    g.setShowText(false);
    EXPECT_EQ(g.repaintRequests(), base + 4);
}

TEST(PmGauge, PaintsFrameFilledAndEmptyParts) {
    TPmGauge g;
    g.resize(200, 24);
    g.setForeColor(QColor(0, 0, 255));
    g.setBackColor(QColor(128, 128, 0));
    g.setTextColor(Qt::white);
    g.setProgress(50);
    const QImage img = g.grab().toImage();
    const qreal dpr = img.devicePixelRatio();
    auto at = [&](int x, int y) { return img.pixelColor(int(x * dpr), int(y * dpr)); };
    EXPECT_EQ(at(0, 0), QColor(Qt::black));      // frame
    EXPECT_EQ(at(2, 2), QColor(0, 0, 255));      // filled part, left
    EXPECT_EQ(at(150, 12), QColor(128, 128, 0)); // empty part
    EXPECT_EQ(at(199, 23), QColor(Qt::black));

    // Some white text lies in the filled part at 50 %, none at 0 %.
    auto whitePixels = [&](const QImage& im) {
        int n = 0;
        for (int y = 0; y < im.height(); ++y)
            for (int x = 0; x < im.width(); ++x)
                n += im.pixelColor(x, y).lightness() > 200;
        return n;
    };
    EXPECT_GT(whitePixels(img), 0);
    g.setProgress(0);
    EXPECT_EQ(whitePixels(g.grab().toImage()), 0);
}

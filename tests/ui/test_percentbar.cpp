#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <climits>
#include <cmath>
#include <limits>

#include "ui/percentbar.h"

namespace vantrel::test {
namespace {

const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kWhite = qRgb(255, 255, 255);

// A bar of the given size rendered to an image; red marks any pixel the bar left unpainted.
class PercentBarTest : public ::testing::Test {
protected:
    // The bar paints in the palette's selection colours; a light theme's are blue on white.
    PercentBarTest() { UsePalette(kBlue, kWhite, kWhite); }

    void UsePalette(QRgb highlight, QRgb highlightedText, QRgb base) {
        QPalette palette = bar.palette();
        palette.setColor(QPalette::Highlight, QColor(highlight));
        palette.setColor(QPalette::HighlightedText, QColor(highlightedText));
        palette.setColor(QPalette::Base, QColor(base));
        bar.setPalette(palette);
    }

    QImage Render(int width, int height = 40) {
        bar.resize(width, height);
        QImage image(bar.size(), QImage::Format_RGB32);
        image.fill(qRgb(255, 0, 0));
        bar.render(&image);
        return image;
    }

    // Where the label may have ink: its advance around the middle, from above its ascent to
    // below its descent, with a margin for antialiasing.
    QRect LabelBox(const QString& label) const {
        QFontMetrics metrics(bar.font());
        int advance = metrics.horizontalAdvance(label);
        int baseline = static_cast<int>(bar.height() * 0.7);
        return QRect(QPoint(bar.width() / 2 - advance / 2 - 2, baseline - metrics.ascent() - 2),
                     QPoint(bar.width() / 2 + advance / 2 + 2, baseline + metrics.descent() + 2));
    }

    // Every pixel outside the label box is solid blue left of split and solid white from it on;
    // inside the box only mixes of the two colours appear, with the label in white on the blue
    // part and in blue on the white part.
    void ExpectBar(const QImage& image, int split, const QString& label) {
        QRect box = LabelBox(label);
        ASSERT_GT(box.top(), 0) << "the bar is too low to see above the label";
        bool whiteInkOnBlue = false;
        bool blueInkOnWhite = false;
        int wrong = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                QRgb pixel = image.pixel(x, y);
                QRgb background = x < split ? kBlue : kWhite;
                if (!box.contains(x, y)) {
                    wrong += pixel != background;
                    continue;
                }
                wrong += qBlue(pixel) != 255 || qRed(pixel) != qGreen(pixel);
                if (x < split && qRed(pixel) > 128)
                    whiteInkOnBlue = true;
                if (x >= split && qRed(pixel) < 128)
                    blueInkOnWhite = true;
            }
        }
        EXPECT_EQ(wrong, 0) << "pixels off the bar's two colours, split " << split;
        // The label sits over the middle: a part that covers half of it shows its ink.
        if (split >= box.center().x()) {
            EXPECT_TRUE(whiteInkOnBlue) << "no white label on the blue part";
        }
        if (split <= box.center().x()) {
            EXPECT_TRUE(blueInkOnWhite) << "no blue label on the white part";
        }
        EXPECT_TRUE(whiteInkOnBlue || blueInkOnWhite) << "no label drawn";
    }

    CPercentBar bar;
};

TEST_F(PercentBarTest, ZeroNegativeOrNotANumberShowAWhiteBar) {
    EXPECT_EQ(bar.Percent(), 0.0f); // from construction
    EXPECT_TRUE(bar.isReadOnly());
    ExpectBar(Render(200), 0, QStringLiteral("0.00 %"));

    for (float fraction : {0.0f, -0.25f, -1e30f, std::numeric_limits<float>::quiet_NaN()}) {
        bar.SetPercent(0.7f);
        bar.SetPercent(fraction);
        EXPECT_EQ(bar.Percent(), 0.0f) << fraction;
        EXPECT_EQ(FormatPercentLabel(bar.Percent()), QStringLiteral("0.00 %"));
        ExpectBar(Render(200), 0, QStringLiteral("0.00 %"));
    }
}

TEST_F(PercentBarTest, HalfFillsHalfTheWidthRoundedToTheNearestPixel) {
    bar.SetPercent(0.5f);
    EXPECT_EQ(bar.Percent(), 50.0f);
    EXPECT_EQ(FormatPercentLabel(bar.Percent()), QStringLiteral("50.00 %"));
    ExpectBar(Render(200), 100, QStringLiteral("50.00 %"));
    // 100.5 pixels round up.
    ExpectBar(Render(201), 101, QStringLiteral("50.00 %"));

    bar.SetPercent(0.375f);
    ExpectBar(Render(300), 113, QStringLiteral("37.50 %")); // 112.5 rounds up
    EXPECT_EQ(FormatPercentLabel(45.5f), QStringLiteral("45.50 %"));
}

TEST_F(PercentBarTest, AboveOneShowsAFullBar) {
    bar.SetPercent(1.5f);
    EXPECT_EQ(bar.Percent(), 100.0f);
    EXPECT_EQ(FormatPercentLabel(bar.Percent()), QStringLiteral("100.00 %"));
    ExpectBar(Render(200), 200, QStringLiteral("100.00 %"));

    bar.SetPercent(std::numeric_limits<float>::infinity());
    EXPECT_EQ(bar.Percent(), 100.0f);
    bar.SetPercent(1.0f);
    ExpectBar(Render(57), 57, QStringLiteral("100.00 %"));
}

TEST_F(PercentBarTest, ATinyFractionFillsNothingButTheLabelShowsIt) {
    bar.SetPercent(0.001f);
    EXPECT_EQ(FormatPercentLabel(bar.Percent()), QStringLiteral("0.10 %"));
    ExpectBar(Render(200), 0, QStringLiteral("0.10 %"));

    // One percent of 200 pixels is two.
    bar.SetPercent(0.01f);
    ExpectBar(Render(200), 2, QStringLiteral("1.00 %"));
}

TEST_F(PercentBarTest, ADarkThemeKeepsTheBarReadableAndAScreenReaderReadsItsValue) {
    const QRgb highlight = qRgb(61, 174, 233);
    const QRgb base = qRgb(35, 38, 41);
    UsePalette(highlight, qRgb(252, 252, 252), base);
    bar.SetPercent(0.25f);
    QImage image = Render(200);
    EXPECT_EQ(image.pixel(2, 2), highlight);
    EXPECT_EQ(image.pixel(197, 2), base);
    // Its value as text, not only as pixels; no stop on Tab and no text menu.
    EXPECT_EQ(bar.text(), QStringLiteral("25.00 %"));
    EXPECT_EQ(bar.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(bar.contextMenuPolicy(), Qt::NoContextMenu);
}

TEST(PercentBarSplit, RoundsLikeMulDivAndNeverGoesNegative) {
    EXPECT_EQ(MulDiv(5, 1, 10), 1);   // a half rounds away from zero
    EXPECT_EQ(MulDiv(4, 1, 10), 0);
    EXPECT_EQ(MulDiv(-5, 1, 10), -1);
    EXPECT_EQ(MulDiv(15, 1, -10), -2);
    EXPECT_EQ(MulDiv(7, 3, 0), -1);   // no divisor
    EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX); // the product needs 64 bits
    EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1); // the result does not fit

    EXPECT_EQ(PercentBarSplit(50.0f, 200), 100);
    EXPECT_EQ(PercentBarSplit(100.0f, 0), 0);
    EXPECT_EQ(PercentBarSplit(0.1f, 200), 0);
    EXPECT_EQ(PercentBarSplit(0.25f, 200), 1); // 0.5 pixel rounds up
    EXPECT_EQ(PercentBarSplit(-3.0f, 200), 0);
    EXPECT_EQ(PercentBarSplit(std::nanf(""), 200), 0);
    EXPECT_EQ(PercentBarSplit(1e30f, 200), 200); // held at a full bar, no overflow
}

} // namespace
} // namespace vantrel::test

#include "ui/percentbar.h"

#include "control/trayrules.h"

#include <QFontMetrics>
#include <QPainter>
#include <cmath>

namespace vantrel {

namespace {

// One pass of the label: fill the rectangle with the background and draw the label clipped to
// it. An empty rectangle draws nothing at all.
void PaintPass(QPainter& painter, const QRect& area, const QColor& background, const QColor& textColour,
               const QPoint& baselineStart, const QString& label) {
    if (area.isEmpty())
        return;
    painter.save();
    painter.setClipRect(area);
    painter.fillRect(area, background);
    painter.setPen(textColour);
    painter.drawText(baselineStart, label);
    painter.restore();
}

} // namespace

QString FormatPercentLabel(float percent) {
    return QString::fromStdString(PercentLabelText(percent));
}

CPercentBar::CPercentBar(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    // The whole widget is the bar: no frame takes pixels from it.
    setFrame(false);
    // Nothing to type or copy: no stop on Tab, no text menu. A screen reader reads its text.
    setFocusPolicy(Qt::NoFocus);
    setContextMenuPolicy(Qt::NoContextMenu);
    setText(FormatPercentLabel(m_fPercent));
}

void CPercentBar::SetPercent(float fraction) {
    m_fPercent = BarPercentOf(fraction);
    setText(FormatPercentLabel(m_fPercent));
    update();
}

void CPercentBar::paintEvent(QPaintEvent*) {
    const int barWidth = width();
    const int barHeight = height();
    const int split = PercentBarSplit(m_fPercent, barWidth);
    const QString label = FormatPercentLabel(m_fPercent);

    // Centred on the middle, standing on a baseline at 70 % of the height.
    const int textWidth = QFontMetrics(font()).horizontalAdvance(label);
    const QPoint baselineStart(barWidth / 2 - textWidth / 2, static_cast<int>(barHeight * 0.7));

    // The palette's selection colours: blue on white in a light theme, and as readable in a dark one.
    const QColor filled = palette().color(QPalette::Highlight);
    const QColor onFilled = palette().color(QPalette::HighlightedText);
    const QColor empty = palette().color(QPalette::Base);
    QPainter painter(this);
    PaintPass(painter, QRect(0, 0, split, barHeight), filled, onFilled, baselineStart, label);
    PaintPass(painter, QRect(split, 0, barWidth - split, barHeight), empty, filled, baselineStart, label);
}

void CPercentBar::focusInEvent(QFocusEvent*) {
    update();
}

} // namespace vantrel

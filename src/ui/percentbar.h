#pragma once

#include <QLineEdit>
#include <QString>

#include "control/trayrules.h"

namespace vantrel {

// The bar's label: two decimals, a blank and a percent sign ("45.50 %").
QString FormatPercentLabel(float percent);

// The read-only edit control that shows how far the watched work unit has come: solid blue up
// to the completion and white after it, with one centred label that reads white on blue over the
// filled part and blue on white over the rest.
class CPercentBar : public QLineEdit {
    Q_OBJECT
public:
    explicit CPercentBar(QWidget* parent = nullptr);

    // Takes a fraction 0..1; below 0 or not a number shows 0 %, above 1 shows 100 %.
    void SetPercent(float fraction);

    // The completion shown, in percent (0 to 100).
    float Percent() const { return m_fPercent; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Getting the focus only repaints: there is no text cursor to show.
    void focusInEvent(QFocusEvent* event) override;

private:
    float m_fPercent = 0.0f;
};

} // namespace vantrel

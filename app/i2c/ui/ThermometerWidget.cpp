#include "ThermometerWidget.h"

#include <QPainter>
#include <algorithm>

namespace tarvo {

ThermometerWidget::ThermometerWidget(const QString& caption, QWidget* parent)
    : QWidget(parent), caption_(caption) {
    setAccessibleName(caption);
    setMinimumSize(56, 160);
}

void ThermometerWidget::setRange(double minimum, double maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    update();
}

void ThermometerWidget::setValue(double value) {
    value_ = value;
    setAccessibleDescription(QString::number(value, 'f', 1));
    update();
}

void ThermometerWidget::setPointerColor(const QColor& color) {
    color_ = color;
    update();
}

void ThermometerWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics(font());
    const int captionHeight = metrics.height() + 4;
    const int top = metrics.height() / 2 + 4;
    const int bulb = 16;
    const int bottom = height() - captionHeight - bulb;
    const int tubeWidth = 10;
    const int tubeX = width() - tubeWidth - 10;

    auto yOf = [&](double v) {
        double t = (v - minimum_) / (maximum_ - minimum_);
        return bottom - t * (bottom - top);
    };

    // Scale: a label every 20 degrees, a tick every 5.
    p.setPen(palette().color(QPalette::WindowText));
    for (int v = int(minimum_); v <= int(maximum_); v += 5) {
        int y = int(yOf(v));
        bool major = v % 20 == 0;
        p.drawLine(tubeX - (major ? 8 : 4), y, tubeX - 2, y);
        if (major) {
            QString label = QString::number(v);
            p.drawText(QRect(0, y - metrics.height() / 2, tubeX - 10, metrics.height()),
                       Qt::AlignRight | Qt::AlignVCenter, label);
        }
    }

    // Tube and bulb, then the fill up to the value (clamped to the scale).
    QRectF tube(tubeX, top, tubeWidth, bottom - top);
    QRectF bulbRect(tubeX + tubeWidth / 2.0 - bulb / 2.0, bottom - 2, bulb, bulb);
    p.setBrush(palette().color(QPalette::Base));
    p.drawRoundedRect(tube, 4, 4);
    p.drawEllipse(bulbRect);
    double shown = std::clamp(value_, minimum_, maximum_);
    QRectF fill(tubeX + 2, yOf(shown), tubeWidth - 4, bottom - yOf(shown) + 4);
    p.setPen(Qt::NoPen);
    p.setBrush(color_);
    p.drawRect(fill);
    p.drawEllipse(bulbRect.adjusted(2, 2, -2, -2));

    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, height() - captionHeight, width(), captionHeight), Qt::AlignCenter,
               caption_);
}

}  // namespace tarvo

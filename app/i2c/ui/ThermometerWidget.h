#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace tarvo {

// A thermometer: a vertical tube over a scale (-20 to 60 degrees C by default) filled up to the
// value in the pointer's colour, with its caption below.
class ThermometerWidget : public QWidget {
    Q_OBJECT

  public:
    explicit ThermometerWidget(const QString& caption, QWidget* parent = nullptr);

    void setRange(double minimum, double maximum);
    void setValue(double value);
    void setPointerColor(const QColor& color);

    double value() const { return value_; }
    QColor pointerColor() const { return color_; }
    QSize sizeHint() const override { return {64, 200}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString caption_;
    double minimum_ = -20.0;
    double maximum_ = 60.0;
    double value_ = 0.0;
    QColor color_{0, 255, 0};
};

}  // namespace tarvo

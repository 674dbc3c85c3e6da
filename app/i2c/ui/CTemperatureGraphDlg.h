#pragma once

#include <QDialog>

#include "i2c/TemperatureHistory.h"

class QCheckBox;
class QCPItemStraightLine;
class QCustomPlot;
class QLabel;
class QMouseEvent;

namespace tarvo {

class Operator;

// The "Temperature" window: one coloured line per VATA chip from the history, an X axis that
// grows by doubling, a cross-hair cursor with its "X=%.0f Y=%.1f" readout, and the graph file.
// Closing it only hides it.
class CTemperatureGraphDlg : public QDialog {
    Q_OBJECT

  public:
    CTemperatureGraphDlg(const TemperatureHistory& history, Operator& op,
                         QWidget* parent = nullptr);

    void RedrawGraph();
    // Asks for a file name and writes the history there ("Open file %s ERROR" when it cannot).
    void SaveGraphFile();

    // The cursor's position, and moving it as a drag on the graph does.
    double cursorX() const { return cursorX_; }
    double cursorY() const { return cursorY_; }
    void moveCursor(double x, double y);
    double axisMaximum() const { return axisMaximum_; }
    QCustomPlot* plot() const { return plot_; }

    static QColor channelColor(int channel);

  protected:
    void reject() override { hide(); }

  private:
    void cursorToggled(bool shown);
    void plotMouse(QMouseEvent* event);

    const TemperatureHistory& history_;
    Operator& op_;
    QCustomPlot* plot_;
    QCheckBox* cursorBox_;
    QLabel* readout_;
    QCPItemStraightLine* cursorV_;
    QCPItemStraightLine* cursorH_;
    double axisMaximum_ = 0.0;
    double cursorX_ = 0.0;
    double cursorY_ = 20.0;
};

}  // namespace tarvo

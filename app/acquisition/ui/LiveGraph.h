#pragma once

#include <QWidget>
#include <vector>

#include "acquisition/MainDialogRules.h"

class QCustomPlot;

namespace tarvo {

// The live graph of the main window: the data plot, the red average plot, axes "XAxis" and
// "YAxis-1".
class LiveGraph : public QWidget {
    Q_OBJECT
  public:
    explicit LiveGraph(QWidget* parent = nullptr);

    void setXRange(AxisRange range);
    AxisRange yRange() const;
    void setYRange(AxisRange range);
    void setData(const std::vector<double>& values);
    void setAverages(const std::vector<double>& values);  // empty: the red plot goes
    int dataPoints() const;
    int averagePoints() const;
    QCustomPlot* plot() const { return plot_; }

  private:
    QCustomPlot* plot_ = nullptr;
};

}  // namespace tarvo

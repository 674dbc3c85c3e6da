#include "CTemperatureGraphDlg.h"

#include <qcustomplot.h>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "shell/Operator.h"

namespace tarvo {

namespace {

constexpr double kYMinimum = -20.0;
constexpr double kYMaximum = 60.0;

}  // namespace

QColor CTemperatureGraphDlg::channelColor(int channel) {
    static const QColor colors[8] = {{101, 6, 1}, {255, 0, 0}, {234, 114, 34}, {242, 237, 26},
                                     {0, 255, 0}, {0, 0, 255}, {230, 14, 254}, {138, 138, 138}};
    return colors[channel & 7];
}

CTemperatureGraphDlg::CTemperatureGraphDlg(const TemperatureHistory& history, Operator& op,
                                           QWidget* parent)
    : QDialog(parent, Qt::Window), history_(history), op_(op) {
    setWindowTitle("Temperature");
    plot_ = new QCustomPlot(this);
    plot_->setAccessibleName("Temperature graph");
    plot_->setMinimumSize(560, 320);
    plot_->xAxis->setLabel("Reading cycle (one every 5 s)");
    plot_->yAxis->setLabel("°C");
    plot_->yAxis->setRange(kYMinimum, kYMaximum);
    plot_->xAxis->setRange(0, 1);

    cursorV_ = new QCPItemStraightLine(plot_);
    cursorH_ = new QCPItemStraightLine(plot_);
    for (auto* line : {cursorV_, cursorH_}) {
        line->setPen(QPen(Qt::black, 1, Qt::DashLine));
        line->setVisible(false);
    }
    connect(plot_, &QCustomPlot::mousePress, this, &CTemperatureGraphDlg::plotMouse);
    connect(plot_, &QCustomPlot::mouseMove, this, &CTemperatureGraphDlg::plotMouse);

    cursorBox_ = new QCheckBox("Cursor", this);
    cursorBox_->setAccessibleName("Cursor");
    readout_ = new QLabel(this);
    readout_->setAccessibleName("Readout");
    readout_->setMinimumWidth(140);
    connect(cursorBox_, &QCheckBox::toggled, this, &CTemperatureGraphDlg::cursorToggled);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(cursorBox_);
    bottom->addWidget(readout_);
    bottom->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plot_, 1);
    layout->addLayout(bottom);
    moveCursor(cursorX_, cursorY_);
    readout_->clear();
}

void CTemperatureGraphDlg::RedrawGraph() {
    plot_->clearGraphs();
    uint32_t n = 0;
    for (int ch = 0; ch < TemperatureHistory::kChannels; ++ch) {
        std::vector<double> values = history_.channel(ch);
        n = uint32_t(values.size());
        if (values.empty()) {
            continue;
        }
        QVector<double> x(qsizetype(values.size()));
        QVector<double> y(values.begin(), values.end());
        for (qsizetype i = 0; i < x.size(); ++i) {
            x[i] = double(i);
        }
        QCPGraph* graph = plot_->addGraph();
        graph->setPen(QPen(channelColor(ch), 1.5));
        graph->setName(QString("VATA%1").arg(ch + 1));
        if (values.size() == 1) {
            graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 4));
        }
        graph->setData(x, y, true);
    }
    axisMaximum_ = graphAxisMaximum(axisMaximum_, n);
    plot_->xAxis->setRange(0, axisMaximum_ > 0 ? axisMaximum_ : 1);
    plot_->replot();
}

void CTemperatureGraphDlg::cursorToggled(bool shown) {
    if (shown) {
        if (cursorX_ > axisMaximum_) {
            moveCursor(axisMaximum_ / 2, cursorY_);
        }
        cursorV_->setVisible(true);
        cursorH_->setVisible(true);
        moveCursor(cursorX_, cursorY_);
    } else {
        cursorV_->setVisible(false);
        cursorH_->setVisible(false);
        readout_->clear();
    }
    plot_->replot();
}

void CTemperatureGraphDlg::moveCursor(double x, double y) {
    cursorX_ = x;
    cursorY_ = y;
    cursorV_->point1->setCoords(x, kYMinimum);
    cursorV_->point2->setCoords(x, kYMaximum);
    cursorH_->point1->setCoords(0, y);
    cursorH_->point2->setCoords(1, y);
    if (cursorV_->visible()) {
        readout_->setText(QString::asprintf("X=%.0f Y=%.1f", x, y));
        plot_->replot();
    }
}

void CTemperatureGraphDlg::plotMouse(QMouseEvent* event) {
    if (!cursorV_->visible() || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    moveCursor(plot_->xAxis->pixelToCoord(event->position().x()),
               plot_->yAxis->pixelToCoord(event->position().y()));
}

void CTemperatureGraphDlg::SaveGraphFile() {
    auto path = op_.chooseSaveFile("", "", "Graph File (*.txt)|*.txt|All File (*.*)|*.*||");
    if (!path) {
        return;
    }
    if (!history_.writeGraphFile(*path)) {
        op_.error("Open file " + *path + " ERROR");
    }
}

}  // namespace tarvo

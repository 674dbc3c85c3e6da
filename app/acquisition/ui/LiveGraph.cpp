#include "acquisition/ui/LiveGraph.h"

#include <qcustomplot.h>
#include <QVBoxLayout>

namespace tarvo {
namespace {

void plotValues(QCPGraph* graph, const std::vector<double>& values) {
    QVector<double> x(static_cast<qsizetype>(values.size()));
    QVector<double> y(values.begin(), values.end());
    for (qsizetype i = 0; i < x.size(); ++i) {
        x[i] = static_cast<double>(i);
    }
    graph->setData(x, y, true);
}

}  // namespace

LiveGraph::LiveGraph(QWidget* parent) : QWidget(parent), plot_(new QCustomPlot(this)) {
    plot_->setAccessibleName(QStringLiteral("Graph"));
    plot_->xAxis->setLabel(QStringLiteral("XAxis"));
    plot_->yAxis->setLabel(QStringLiteral("YAxis-1"));
    plot_->xAxis->setRange(0, 512);
    plot_->yAxis->setRange(0, 4096);
    QCPGraph* dataPlot = plot_->addGraph();
    dataPlot->setPen(QPen(QColor(0, 90, 200), 1));
    dataPlot->setLineStyle(QCPGraph::lsLine);
    QCPGraph* averagePlot = plot_->addGraph();
    averagePlot->setPen(QPen(Qt::red, 1.5));
    // Plain lines keep the GUI thread's share of each display tick small.
    plot_->setNotAntialiasedElements(QCP::aeAll);
    plot_->setMinimumSize(520, 300);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(plot_);
}

void LiveGraph::setXRange(AxisRange range) {
    if (plot_->xAxis->range().lower != range.lower || plot_->xAxis->range().upper != range.upper) {
        plot_->xAxis->setRange(range.lower, range.upper);
        plot_->replot(QCustomPlot::rpQueuedReplot);
    }
}

AxisRange LiveGraph::yRange() const {
    return {plot_->yAxis->range().lower, plot_->yAxis->range().upper};
}

void LiveGraph::setYRange(AxisRange range) {
    plot_->yAxis->setRange(range.lower, range.upper);
}

void LiveGraph::setData(const std::vector<double>& values) {
    plotValues(plot_->graph(0), values);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void LiveGraph::setAverages(const std::vector<double>& values) {
    plotValues(plot_->graph(1), values);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

int LiveGraph::dataPoints() const {
    return plot_->graph(0)->dataCount();
}

int LiveGraph::averagePoints() const {
    return plot_->graph(1)->dataCount();
}

}  // namespace tarvo

#include "CAdcDacDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "CTemperatureGraphDlg.h"
#include "ThermometerWidget.h"
#include "i2c/FrontEndChips.h"
#include "shell/Operator.h"

namespace tarvo {

namespace {

// Slider positions are tenths of a millivolt: finer than one DAC step would not show, coarser
// would round the operator's typed values.
constexpr double kStepsPerVolt = 10000.0;

QString voltsText(double volts) {
    return QString::number(volts, 'f', 4);
}

}  // namespace

int CAdcDacDlg::sliderPosition(double volts) {
    return int(std::lround(volts * kStepsPerVolt));
}

double CAdcDacDlg::sliderVolts(int position) {
    return position / kStepsPerVolt;
}

CAdcDacDlg::CAdcDacDlg(QWidget* parent, Operator& op)
    : QDialog(parent, Qt::Window), op_(op), controls_(op) {
    setWindowTitle("I2C Controls");
    buildControls();
    controls_.setView(this);
    updateFromFields();

    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &CAdcDacDlg::timerTick);

    // The window's own opening: bus, thresholds, then the reading timer.
    if (controls_.initialise()) {
        timer_->start(I2cControls::kTickMs);
    }
    updateFromFields();
    graph_ = new CTemperatureGraphDlg(controls_.history(), op_, this);
    graph_->hide();
    hide();
}

CAdcDacDlg::~CAdcDacDlg() {
    controls_.setView(nullptr);
}

void CAdcDacDlg::buildControls() {
    auto* grid = new QGridLayout;
    for (int k = 0; k < I2cControls::kChannels; ++k) {
        auto* caption = new QLabel(QString("Thr%1").arg(k), this);
        caption->setAlignment(Qt::AlignCenter);
        auto* slider = new QSlider(Qt::Vertical, this);
        slider->setRange(sliderPosition(kThresholdMinVolts), sliderPosition(kThresholdMaxVolts));
        slider->setSingleStep(sliderPosition(0.001));
        slider->setPageStep(sliderPosition(0.1));
        slider->setTickPosition(QSlider::TicksRight);
        slider->setTickInterval(sliderPosition(0.5));
        slider->setMinimumHeight(150);
        slider->setTracking(false);  // one DAC write per move, not one per pixel of a drag
        slider->setAccessibleName(QString("Thr%1").arg(k));
        caption->setBuddy(slider);
        connect(slider, &QSlider::valueChanged, this, [this, k] { thresholdMoved(k); });

        auto* edit = new QLineEdit(this);
        edit->setAccessibleName(QString("Thr%1 volts").arg(k));
        edit->setMaximumWidth(70);
        connect(edit, &QLineEdit::editingFinished, this, [this, k] { editFinished(k); });

        auto* thermometer = new ThermometerWidget(QString("VATA%1").arg(k), this);
        auto* alarm = new QCheckBox("En", this);
        alarm->setAccessibleName("En");
        alarm->setAccessibleDescription(QString("VATA%1 alarm").arg(k));
        connect(alarm, &QCheckBox::toggled, this, &CAdcDacDlg::checkBoxesChanged);

        grid->addWidget(caption, 0, k, Qt::AlignHCenter);
        grid->addWidget(slider, 1, k, Qt::AlignHCenter);
        grid->addWidget(edit, 2, k, Qt::AlignHCenter);
        grid->addWidget(thermometer, 3, k, Qt::AlignHCenter);
        grid->addWidget(alarm, 4, k, Qt::AlignHCenter);
        sliders_[size_t(k)] = slider;
        edits_[size_t(k)] = edit;
        thermometers_[size_t(k)] = thermometer;
        alarmBoxes_[size_t(k)] = alarm;
    }

    enableReadBox_ = new QCheckBox("Enable Read Temperature", this);
    enableReadBox_->setAccessibleName("Enable Read Temperature");
    connect(enableReadBox_, &QCheckBox::toggled, this, [this](bool on) {
        if (updating_) {
            return;
        }
        controls_.enableRead = on;
        updateFromFields();
        if (on) {
            timer_->start(I2cControls::kTickMs);
        }
    });
    auto* limitLabel = new QLabel("Temperature Threshold", this);
    limitEdit_ = new QLineEdit(this);
    limitEdit_->setAccessibleName("Temperature Threshold");
    limitEdit_->setMaximumWidth(70);
    limitLabel->setBuddy(limitEdit_);
    connect(limitEdit_, &QLineEdit::editingFinished, this, &CAdcDacDlg::checkBoxesChanged);
    graphBox_ = new QCheckBox("Graph", this);
    graphBox_->setAccessibleName("Graph");
    connect(graphBox_, &QCheckBox::toggled, this, [this](bool on) {
        if (!updating_) {
            graph_->setVisible(on);
        }
    });
    saveGraphButton_ = new QPushButton("Save Graph", this);
    saveGraphButton_->setAccessibleName("Save Graph");
    saveGraphButton_->setAutoDefault(false);
    connect(saveGraphButton_, &QPushButton::clicked, this, [this] { graph_->SaveGraphFile(); });
    altSensorBox_ = new QCheckBox("Alt. Sens.", this);
    altSensorBox_->setAccessibleName("Alt. Sens.");
    connect(altSensorBox_, &QCheckBox::toggled, this, &CAdcDacDlg::checkBoxesChanged);
    auto* vadcLabel = new QLabel("VADC", this);
    vadcText_ = new QLabel(this);
    vadcText_->setAccessibleName("VADC");
    vadcText_->setMinimumWidth(50);
    statusText_ = new QLabel(this);
    statusText_->setAccessibleName("Status");
    statusText_->setFrameShape(QFrame::StyledPanel);

    auto* row = new QHBoxLayout;
    row->addWidget(enableReadBox_);
    row->addSpacing(12);
    row->addWidget(limitLabel);
    row->addWidget(limitEdit_);
    row->addSpacing(12);
    row->addWidget(graphBox_);
    row->addWidget(saveGraphButton_);
    row->addSpacing(12);
    row->addWidget(altSensorBox_);
    row->addWidget(vadcLabel);
    row->addWidget(vadcText_);
    row->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(row);
    layout->addWidget(statusText_);
}

void CAdcDacDlg::updateFromFields() {
    updating_ = true;
    for (int k = 0; k < I2cControls::kChannels; ++k) {
        double volts = controls_.threshold[size_t(k)];
        sliders_[size_t(k)]->blockSignals(true);
        sliders_[size_t(k)]->setValue(sliderPosition(volts));
        sliders_[size_t(k)]->blockSignals(false);
        edits_[size_t(k)]->setText(voltsText(volts));
        alarmBoxes_[size_t(k)]->setChecked(controls_.alarmEnable[size_t(k)]);
        alarmBoxes_[size_t(k)]->setEnabled(controls_.enableRead);
    }
    enableReadBox_->setChecked(controls_.enableRead);
    limitEdit_->setText(QString::number(controls_.limit, 'f', 1));
    altSensorBox_->setChecked(controls_.altSensor);
    vadcText_->setText(QString::number(controls_.vadc));
    statusText_->setText(QString::fromStdString(controls_.statusText));
    updating_ = false;
}

void CAdcDacDlg::thresholdMoved(int slot) {
    if (updating_) {
        return;
    }
    controls_.threshold[size_t(slot)] = sliderVolts(sliders_[size_t(slot)]->value());
    edits_[size_t(slot)]->setText(voltsText(controls_.threshold[size_t(slot)]));
    controls_.writeThreshold(slot);
}

void CAdcDacDlg::editFinished(int slot) {
    if (updating_) {
        return;
    }
    bool ok = false;
    double volts = edits_[size_t(slot)]->text().trimmed().toDouble(&ok);
    if (!ok || !(volts >= kThresholdMinVolts && volts <= kThresholdMaxVolts)) {
        // Refused like any field check: the field keeps its value and no DAC is written.
        op_.error("Please enter a number between -2.5 and 2.5.");
        edits_[size_t(slot)]->setText(voltsText(controls_.threshold[size_t(slot)]));
        return;
    }
    sliders_[size_t(slot)]->setValue(sliderPosition(volts));
}

void CAdcDacDlg::checkBoxesChanged() {
    if (updating_) {
        return;
    }
    for (int k = 0; k < I2cControls::kChannels; ++k) {
        controls_.alarmEnable[size_t(k)] = alarmBoxes_[size_t(k)]->isChecked();
    }
    controls_.altSensor = altSensorBox_->isChecked();
    bool ok = false;
    double limit = limitEdit_->text().trimmed().toDouble(&ok);
    if (ok && std::isfinite(limit)) {
        controls_.limit = limit;
    } else {
        op_.error("Please enter a number.");
    }
    updateFromFields();
}

void CAdcDacDlg::timerTick() {
    // Stopped first: no tick starts while a message of this one is open.
    timer_->stop();
    if (controls_.tick()) {
        timer_->start(I2cControls::kTickMs);
    }
}

bool CAdcDacDlg::readingTimerActive() const {
    return timer_->isActive();
}

void CAdcDacDlg::indicatorChanged(int channel) {
    const auto& indicator = controls_.indicators()[size_t(channel)];
    ThermometerWidget* thermometer = thermometers_[size_t(channel)];
    thermometer->setValue(indicator.temperature);
    thermometer->setPointerColor(indicator.red ? QColor(255, 0, 0) : QColor(0, 255, 0));
}

void CAdcDacDlg::sampleAdded() {
    graph_->RedrawGraph();
}

bool CAdcDacDlg::setThreshold(int slot, double volts) {
    if (slot < 0 || slot >= I2cControls::kChannels ||
        !(volts >= kThresholdMinVolts && volts <= kThresholdMaxVolts)) {
        return false;
    }
    bool written = false;
    auto apply = [this, slot, volts, &written] {
        requested_[size_t(slot)] = volts;
        QSlider* slider = sliders_[size_t(slot)];
        slider->blockSignals(true);
        slider->setValue(sliderPosition(requested_[size_t(slot)]));
        slider->blockSignals(false);
        // The same path as a move by the operator, taken even when the slider already stood
        // there, so that the caller's value is on the DAC when this returns.
        controls_.threshold[size_t(slot)] = sliderVolts(slider->value());
        edits_[size_t(slot)]->setText(voltsText(controls_.threshold[size_t(slot)]));
        written = controls_.writeThreshold(slot);
    };
    if (QThread::currentThread() == thread()) {
        apply();
    } else {
        QMetaObject::invokeMethod(this, apply, Qt::BlockingQueuedConnection);
    }
    return written;
}

void CAdcDacDlg::toggleShown() {
    if (isVisible()) {
        hide();
    } else {
        showNormal();
        raise();
        activateWindow();
    }
}

void CAdcDacDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

}  // namespace tarvo

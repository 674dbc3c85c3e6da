#pragma once

#include <QDialog>
#include <array>

#include "i2c/I2cControls.h"
#include "i2c/ThresholdSink.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace tarvo {

class CTemperatureGraphDlg;
class Operator;
class ThermometerWidget;

// The "I2C Controls" window: eight threshold sliders with their edits, eight VATA thermometers,
// the reading switches and the temperature graph. It opens the I2C bus and writes the thresholds
// when it is created, reads the temperatures every 5 s while "Enable Read Temperature" is set,
// and takes threshold requests from other threads as a blocking call (ThresholdSink). Created
// hidden; closing it only hides it.
class CAdcDacDlg : public QDialog, public ThresholdSink, private I2cControls::View {
    Q_OBJECT

  public:
    CAdcDacDlg(QWidget* parent, Operator& op);
    ~CAdcDacDlg() override;

    // Called from any thread: sets slider `slot` as if the operator had moved it and returns when
    // the DAC write is done (true) or has failed or was refused (false).
    bool setThreshold(int slot, double volts) override;

    // "Show/Hide" of the "I2C Controls" menu.
    void toggleShown();

    I2cControls& controls() { return controls_; }
    CTemperatureGraphDlg& graph() { return *graph_; }
    bool readingTimerActive() const;

  protected:
    // Enter and Escape do nothing here; the close box hides the window.
    void accept() override {}
    void reject() override {}
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void thresholdMoved(int slot);
    void editFinished(int slot);
    void checkBoxesChanged();
    void timerTick();
    void updateFromFields();  // fields -> controls, and the enabling rule

    // I2cControls::View
    void fieldsChanged() override { updateFromFields(); }
    void indicatorChanged(int channel) override;
    void sampleAdded() override;

    static int sliderPosition(double volts);
    static double sliderVolts(int position);

    Operator& op_;
    I2cControls controls_;
    std::array<double, I2cControls::kChannels> requested_{};
    CTemperatureGraphDlg* graph_ = nullptr;
    QTimer* timer_ = nullptr;
    std::array<QSlider*, I2cControls::kChannels> sliders_{};
    std::array<QLineEdit*, I2cControls::kChannels> edits_{};
    std::array<ThermometerWidget*, I2cControls::kChannels> thermometers_{};
    std::array<QCheckBox*, I2cControls::kChannels> alarmBoxes_{};
    QCheckBox* enableReadBox_ = nullptr;
    QLineEdit* limitEdit_ = nullptr;
    QCheckBox* graphBox_ = nullptr;
    QPushButton* saveGraphButton_ = nullptr;
    QCheckBox* altSensorBox_ = nullptr;
    QLabel* vadcText_ = nullptr;
    QLabel* statusText_ = nullptr;
    bool updating_ = false;
};

}  // namespace tarvo

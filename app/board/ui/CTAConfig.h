#pragma once

#include <QDialog>
#include <array>

#include "board/TaConfiguration.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace tarvo {

struct RunState;

// "TA n Setting": one TA section's six registers as masks, DAC offsets and analog options;
// "Write" loads them into the board, "Read" fetches them back. The main window keeps one per
// section for the whole run, so edits persist between openings.
class CTAConfig : public QDialog {
    Q_OBJECT
  public:
    CTAConfig(int taIndex, QWidget* parent = nullptr);

    TaConfiguration config;
    int taIndex = 0;
    int mode = 0;               // the main window's acquisition type, copied in before each use
    RunState* state = nullptr;  // bridge handle and base address, copied in before each use

    // The title and the fields as the object holds them; exec() does this first.
    void prepare();
    int exec() override;

  public slots:
    void accept() override;  // "Close": takes the fields (they must be valid)
    void onWrite();
    void onRead();

  private:
    // Controls into a copy of the registers; false (after the range message) when one is not
    // valid, and then nothing is taken.
    bool takeControls();
    void showControls();

    std::array<QCheckBox*, 32> testMask_{};
    std::array<QCheckBox*, 32> disableMask_{};
    std::array<QLineEdit*, 32> dacOffset_{};
    QComboBox* polarity_ = nullptr;
    QComboBox* gainSign_ = nullptr;
    QComboBox* gain_ = nullptr;
    QCheckBox* testMode_ = nullptr;
};

}  // namespace tarvo

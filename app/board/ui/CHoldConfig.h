#pragma once

#include <QDialog>
#include <array>

#include "board/HoldConfiguration.h"

class QLineEdit;

namespace tarvo {

class SettingsStore;
struct RunState;

// "hold": the eight hold delays in nanoseconds (steps of 20 ns, 0..5100). Opening it shows the
// stored codes; "Close" takes the fields and stores them.
class CHoldConfig : public QDialog {
    Q_OBJECT
  public:
    CHoldConfig(SettingsStore& store, QWidget* parent = nullptr);

    HoldCodeArray holdCode{};
    RunState* state = nullptr;  // bridge handle and base address, copied in before each use

    // Loads the stored codes and shows them; exec() does this first.
    void prepare();
    int exec() override;

  public slots:
    void accept() override;
    void onWrite();
    void onRead();

  private:
    bool takeControls();
    void showControls();

    SettingsStore& store_;
    std::array<QLineEdit*, 8> edits_{};
};

}  // namespace tarvo

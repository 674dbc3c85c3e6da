#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

class QLineEdit;

namespace tarvo {

// "Base Lines": the eight base lines histogram generation subtracts, 0..4095 each. OK takes the
// edited values only when all of them are valid; Cancel keeps the previous ones.
class CBaseLineDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CBaseLineDlg(QWidget* parent = nullptr);

    std::array<uint32_t, 8> baseLine{};

    // Shows the fields as the object holds them; exec() does this first.
    void prepare();
    // Runs the dialog; QDialog::Accepted when OK took new values.
    int exec() override;

  public slots:
    void accept() override;

  private:
    std::array<QLineEdit*, 8> edits_{};
};

}  // namespace tarvo

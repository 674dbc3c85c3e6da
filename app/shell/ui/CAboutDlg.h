#pragma once

#include <QDialog>

namespace tarvo {

// "About Nimbra DAQ": the program's name and version as the build fixed it.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace tarvo

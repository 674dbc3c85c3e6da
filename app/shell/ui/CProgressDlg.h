#pragma once

#include <QDialog>

#include "shell/UpdateProgress.h"

class QLabel;
class QProgressBar;
class QPushButton;

// The download's progress window: a caption, a bar, one line of text and "Abort". It has no close
// box, Enter and Escape do nothing, and it goes away only when its worker asks it to close; it
// deletes itself then. The worker reaches it through UpdateProgress from its own thread: each call
// runs on the window's thread and returns once the window shows it.
class CProgressDlg : public QDialog, public tarvo::UpdateProgress {
    Q_OBJECT

  public:
    // Modeless and without parent, centred over `mainWindow` when one is given.
    explicit CProgressDlg(QWidget* mainWindow = nullptr);
    ~CProgressDlg() override;

    void setRange(std::uint32_t low, std::uint32_t high) override;
    void setPosition(std::uint32_t position) override;
    void setText(const std::string& text) override;

    // The worker's close request; from any thread, returns at once.
    void requestClose();

    // The text as the window shows it.
    QString text() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  public slots:
    void accept() override {}
    void reject() override {}

  private:
    template <class F>
    void onWindowThread(F&& f);

    QProgressBar* bar_ = nullptr;
    QLabel* text_ = nullptr;
    QPushButton* abort_ = nullptr;
    bool closeRequested_ = false;
    // The bar counts in ints: ranges beyond them are shown scaled down by this many bits.
    int shift_ = 0;
};

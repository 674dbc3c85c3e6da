#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "shell/Operator.h"

namespace tarvo {

// The window's Operator. A message or question from the GUI thread is shown at once; one from a
// worker is shown on the GUI thread while only that worker waits for the answer. After
// shutdown() no box is shown any more: a waiting worker and later callers get the cautious answer
// (No, Cancel, no file) so nothing waits on a window that is going away.
class GuiOperator : public Operator {
  public:
    explicit GuiOperator(QWidget* owner);
    ~GuiOperator() override;

    void shutdown();

    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    bool askOkCancel(const std::string& text) override;
    bool askRetryCancel(const std::string& text) override;
    std::optional<std::string> chooseOpenFile(const std::string& preset,
                                              const std::string& defaultExtension,
                                              const std::string& filter) override;
    std::optional<std::string> chooseSaveFile(const std::string& preset,
                                              const std::string& defaultExtension,
                                              const std::string& filter) override;
    std::optional<std::string> chooseFolder(const std::string& title,
                                            const std::string& preset) override;

    // "DAQ File (*.bin)|*.bin|All File (*.*)|*.*||" as a Qt file dialog's filter.
    static QString qtFilter(const std::string& filter);

  private:
    struct Shared;
    // Runs `show` on the GUI thread and returns its answer, or `fallback` after shutdown.
    template <class T>
    T onGuiThread(std::function<T()> show, T fallback);

    QPointer<QWidget> owner_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace tarvo

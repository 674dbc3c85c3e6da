#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "shell/Operator.h"

namespace tarvo {

// The window's message boxes and file choosers, shown over `owner`. Called on the GUI thread
// only: workers reach it through an OwnerThreadOperator, which carries their questions over.
class GuiOperator : public Operator {
  public:
    explicit GuiOperator(QWidget* owner);

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
    QPointer<QWidget> owner_;
};

}  // namespace tarvo

#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "i2c/ThresholdSink.h"
#include "shell/Operator.h"

namespace tarvo::cli {

// The console for the sequence tests: a prompt of the manual test is OK on Enter or "y" and
// Cancel on "n"; the abort question takes the answer given on the command line (--yes, --no),
// or else asks on the console too. End of input cancels and answers No.
class SequenceConsole : public ConsoleOperator {
  public:
    explicit SequenceConsole(std::optional<bool> abortAnswer) : abortAnswer_(abortAnswer) {}

    void error(const std::string& text) override {
        ++errors_;
        ConsoleOperator::error(text);
    }
    bool askYesNo(const std::string& text) override;
    bool askOkCancel(const std::string& text) override;

    int errors() const { return errors_; }

  private:
    std::atomic<int> errors_{0};
    std::optional<bool> abortAnswer_;
};

// Where the headless sequence test sends its threshold requests: the DACs behind the I2C adapter
// named (an id or name of "tarvo-cli i2c list"; empty: TARVO_I2C_ADAPTER, or the operator is asked
// about each adapter). nullptr when no adapter can be used; the bus has said why.
std::unique_ptr<ThresholdSink> openHeadlessThresholds(Operator& op, const std::string& adapter);

}  // namespace tarvo::cli

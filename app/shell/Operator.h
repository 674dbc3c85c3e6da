#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarvo {

// Everything a worker or an operation needs to show to, or ask of, the person at the bench.
// Core code never shows anything itself; the window, the command line and the tests each supply
// their own Operator.
class Operator {
  public:
    virtual ~Operator() = default;

    virtual void error(const std::string& text) = 0;    // message box, stop icon
    virtual void warning(const std::string& text) = 0;  // message box, exclamation icon
    virtual bool askYesNo(const std::string& text) = 0;
    virtual bool askOkCancel(const std::string& text) = 0;
    virtual bool askRetryCancel(const std::string& text) = 0;
    // File and folder choosers: the chosen path, or nothing when cancelled.
    virtual std::optional<std::string> chooseOpenFile(const std::string& preset,
                                                      const std::string& defaultExtension,
                                                      const std::string& filter) = 0;
    virtual std::optional<std::string> chooseSaveFile(const std::string& preset,
                                                      const std::string& defaultExtension,
                                                      const std::string& filter) = 0;
    virtual std::optional<std::string> chooseFolder(const std::string& title,
                                                    const std::string& preset) = 0;

    // Threading: a worker calls its Operator on its own thread and waits for the answer. An
    // Operator that answers on another thread (OwnerThreadOperator) must be shut down before that
    // thread joins a worker that may still ask; from then on every question returns its default
    // answer at once. Operators that answer on the asking thread have nothing to release.
    virtual void shutDown() {}
};

// For tarvo-cli: messages go to stderr; questions are answered with the preset answer when one
// is given, else read from stdin (y/n), and choosers return their preset.
class ConsoleOperator : public Operator {
  public:
    // answer: the reply to every question, or nothing to ask on stdin.
    explicit ConsoleOperator(std::optional<bool> answer = std::nullopt) : answer_(answer) {}

    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    bool askOkCancel(const std::string& text) override;
    bool askRetryCancel(const std::string& text) override;
    std::optional<std::string> chooseOpenFile(const std::string& preset, const std::string&,
                                              const std::string&) override;
    std::optional<std::string> chooseSaveFile(const std::string& preset, const std::string&,
                                              const std::string&) override;
    std::optional<std::string> chooseFolder(const std::string&, const std::string& preset) override;

  private:
    bool ask(const std::string& text, const char* choices);

    std::optional<bool> answer_;
    std::mutex mutex_;
};

// For tests: records every message and question in order and answers from a list given in
// advance (questions answer true and choosers cancel once the list is used up).
class ScriptedOperator : public Operator {
  public:
    struct Entry {
        std::string kind;  // "error", "warning", "yesno", "okcancel", "retrycancel", "open",
                           // "save", "folder"
        std::string text;
    };

    void queueAnswer(bool answer);
    void queuePath(std::optional<std::string> path);

    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    bool askOkCancel(const std::string& text) override;
    bool askRetryCancel(const std::string& text) override;
    std::optional<std::string> chooseOpenFile(const std::string& preset, const std::string&,
                                              const std::string&) override;
    std::optional<std::string> chooseSaveFile(const std::string& preset, const std::string&,
                                              const std::string&) override;
    std::optional<std::string> chooseFolder(const std::string&, const std::string& preset) override;

    std::vector<Entry> entries() const;
    // The texts of the entries of one kind, in order.
    std::vector<std::string> texts(const std::string& kind) const;

  private:
    bool nextAnswer(const std::string& kind, const std::string& text);
    std::optional<std::string> nextPath(const std::string& kind, const std::string& text);

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    std::deque<bool> answers_;
    std::deque<std::optional<std::string>> paths_;
};

}  // namespace tarvo

#include "shell/Operator.h"

#include <cstdio>
#include <iostream>

namespace tarvo {

void ConsoleOperator::error(const std::string& text) {
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "error: %s\n", text.c_str());
}

void ConsoleOperator::warning(const std::string& text) {
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "warning: %s\n", text.c_str());
}

bool ConsoleOperator::ask(const std::string& text, const char* choices) {
    std::lock_guard lock(mutex_);
    if (answer_) {
        std::fprintf(stderr, "%s [%s] %s\n", text.c_str(), choices, *answer_ ? "yes" : "no");
        return *answer_;
    }
    std::fprintf(stderr, "%s [%s] ", text.c_str(), choices);
    std::string reply;
    if (!std::getline(std::cin, reply)) {
        return false;
    }
    return !reply.empty() && (reply[0] == 'y' || reply[0] == 'Y' || reply[0] == 'o' ||
                              reply[0] == 'O' || reply[0] == 'r' || reply[0] == 'R');
}

bool ConsoleOperator::askYesNo(const std::string& text) {
    return ask(text, "y/n");
}
bool ConsoleOperator::askOkCancel(const std::string& text) {
    return ask(text, "ok/cancel");
}
bool ConsoleOperator::askRetryCancel(const std::string& text) {
    return ask(text, "retry/cancel");
}

std::optional<std::string> ConsoleOperator::chooseOpenFile(const std::string& preset,
                                                           const std::string&, const std::string&) {
    return preset.empty() ? std::nullopt : std::optional<std::string>(preset);
}

std::optional<std::string> ConsoleOperator::chooseSaveFile(const std::string& preset,
                                                           const std::string&, const std::string&) {
    return preset.empty() ? std::nullopt : std::optional<std::string>(preset);
}

std::optional<std::string> ConsoleOperator::chooseFolder(const std::string&,
                                                         const std::string& preset) {
    return preset.empty() ? std::nullopt : std::optional<std::string>(preset);
}

void ScriptedOperator::queueAnswer(bool answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}

void ScriptedOperator::queuePath(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    paths_.push_back(std::move(path));
}

void ScriptedOperator::error(const std::string& text) {
    std::lock_guard lock(mutex_);
    entries_.push_back({"error", text});
}

void ScriptedOperator::warning(const std::string& text) {
    std::lock_guard lock(mutex_);
    entries_.push_back({"warning", text});
}

bool ScriptedOperator::nextAnswer(const std::string& kind, const std::string& text) {
    std::lock_guard lock(mutex_);
    entries_.push_back({kind, text});
    if (answers_.empty()) {
        return true;
    }
    bool answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::optional<std::string> ScriptedOperator::nextPath(const std::string& kind,
                                                      const std::string& text) {
    std::lock_guard lock(mutex_);
    entries_.push_back({kind, text});
    if (paths_.empty()) {
        return std::nullopt;
    }
    auto path = paths_.front();
    paths_.pop_front();
    return path;
}

bool ScriptedOperator::askYesNo(const std::string& text) {
    return nextAnswer("yesno", text);
}
bool ScriptedOperator::askOkCancel(const std::string& text) {
    return nextAnswer("okcancel", text);
}
bool ScriptedOperator::askRetryCancel(const std::string& text) {
    return nextAnswer("retrycancel", text);
}

std::optional<std::string> ScriptedOperator::chooseOpenFile(const std::string& preset,
                                                            const std::string&,
                                                            const std::string&) {
    return nextPath("open", preset);
}

std::optional<std::string> ScriptedOperator::chooseSaveFile(const std::string& preset,
                                                            const std::string&,
                                                            const std::string&) {
    return nextPath("save", preset);
}

std::optional<std::string> ScriptedOperator::chooseFolder(const std::string&,
                                                          const std::string& preset) {
    return nextPath("folder", preset);
}

std::vector<ScriptedOperator::Entry> ScriptedOperator::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<std::string> ScriptedOperator::texts(const std::string& kind) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : entries_) {
        if (e.kind == kind) {
            out.push_back(e.text);
        }
    }
    return out;
}

}  // namespace tarvo

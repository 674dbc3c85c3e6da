#pragma once

#include <cstdint>
#include <string>

#include "shell/ManualResetEvent.h"

namespace tarvo {

// What a download shows while it runs: a bar (range and position), one line of text, and the
// operator's abort. The progress window implements it on the window thread (each call returns
// once the window shows it); tarvo-cli implements it on stderr. Calls come from the worker.
class UpdateProgress {
  public:
    virtual ~UpdateProgress() = default;

    virtual void setRange(std::uint32_t low, std::uint32_t high) = 0;
    virtual void setPosition(std::uint32_t position) = 0;
    // Shows the text at once.
    virtual void setText(const std::string& text) = 0;

    // Set by "Abort"; stays set.
    ManualResetEvent& abortEvent() { return abortEvent_; }
    // Tested without waiting. A front end with another way to abort (Ctrl-C) adds it here.
    virtual bool abortRequested() const { return abortEvent_.isSet(); }

  private:
    ManualResetEvent abortEvent_;
};

// Why the progress routine is called, and what it answers (the codes of a copy-progress routine).
enum ProgressReason : std::uint32_t { kChunkFinished = 0, kStreamStart = 1 };
enum ProgressResult : std::uint32_t {
    kProgressContinue = 0,
    kProgressCancel = 1,
    kProgressStop = 2,
    kProgressQuiet = 3,
};

// The download's progress routine with `window` as its user data. At the start it sets the bar to
// 0..total and the text to "Updating <destination>"; after each chunk it moves the bar and answers
// cancel when the abort has been requested. Only the low 32 bits of the sizes reach the bar.
std::uint32_t ProgressRoutine(std::uint64_t total, std::uint64_t transferred, std::uint32_t reason,
                              const std::string& destination, UpdateProgress& window);

}  // namespace tarvo

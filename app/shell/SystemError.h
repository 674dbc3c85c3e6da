#pragma once

#include <string>

namespace tarvo {

// The calling thread's last error, as the shell utilities and the web update record it: an errno
// value (or kAborted) and, optionally, a text that says more than the system's text for the code
// (the address that could not be reached, the HTTP status). Kept per thread so that a worker's
// error cannot be overwritten by another thread between the failure and its message.
struct SystemError {
    int code = 0;
    std::string text;  // empty: the system's text for the code
};

// The download was cancelled by the operator. Not an errno value; it has a text of its own.
inline constexpr int kAborted = 995;

void SetLastSystemError(int code, std::string text = {});
SystemError GetLastSystemError();

// The text for `code`: the recorded text when given, else the system's text, else empty when the
// system has none.
std::string SystemErrorText(int code, const std::string& recorded = {});

// Formats the thread's last error after `prefix`: "%s ->%d\n%s\n", or "%s ->%d\n" when there is
// no text for the code; the result replaces `out`.
void AppendSystemError(const std::string& prefix, std::string& out);

}  // namespace tarvo

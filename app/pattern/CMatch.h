#pragma once

#include <string>

#include "pattern/CExpList.h"

// A compiled pattern of the system's own syntax together with the state of its latest match.
//
// Matching is greedy and never backtracks: each object takes what it can and gives nothing back,
// and the first alternative of a group that matches wins. Results are the text positions at the
// pattern's `\c` marks, read after a match with GetMarkPos / GetText, and the alternative each
// group took, read with GetAltIndex. One CMatch serves one match at a time.
class CMatch {
  public:
    // Compiles `pattern` without regard to case. A compile failure (an unclosed class or group)
    // is not reported: what was compiled before it is the pattern.
    explicit CMatch(const char* pattern);
    virtual ~CMatch();
    CMatch(const CMatch&) = delete;
    CMatch& operator=(const CMatch&) = delete;

    // Searches `text` from `start` on. Nonzero when the pattern matches; `end` then receives the
    // position just after the match. A pattern that begins with `^` is tried at `start` only.
    // Throws std::invalid_argument when the pattern is empty.
    int Match(const char* text, int start = 0, int* end = nullptr);

    // The characters of `text` between two marks of the latest match, empty when either mark took
    // no part in it. `text` must be the text given to that match.
    std::string GetText(int firstMark, int secondMark, const char* text) const;

    CExpList& List() { return m_list; }
    const CExpList& List() const { return m_list; }

  private:
    CExpList m_list;
};

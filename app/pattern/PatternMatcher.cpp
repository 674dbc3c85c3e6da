// The matcher: strictly greedy, no backtracking. Every atom test either consumes characters or
// ends its object, and a group tries each alternative once from the same position, so an attempt
// never goes back over text it has passed. No test looks past the terminating NUL.
#include "pattern/PatternMatcher.h"

namespace pattern_detail {
namespace {

constexpr int kFail = -1;

unsigned char foldCase(unsigned char c) {
    return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
}

// Length of the line end at `position` (0 for the end of the text), or kFail when none is there.
int lineEndLength(const unsigned char* text, int position) {
    switch (text[position]) {
        case '\0':
            return 0;
        case '\n':
            return 1;
        case '\r':
            return text[position + 1] == '\n' ? 2 : 1;
        default:
            return kFail;
    }
}

int testLineStart(const unsigned char* text, int position) {
    return position == 0 || text[position - 1] == '\n' || text[position - 1] == '\r' ? 0 : kFail;
}

int testLineEnd(const unsigned char* text, int position, bool negate) {
    const int length = lineEndLength(text, position);
    if (negate) {
        return length == kFail ? 1 : kFail;
    }
    return length;
}

int testAnyChar(const unsigned char* text, int position) {
    return text[position] != '\0' ? 1 : kFail;
}

// Forced inline: in the repeat loops of literals and classes the call cost more than the test.
inline __attribute__((always_inline)) int testMembers(const CObjExp& atom,
                                                      const unsigned char* text, int position) {
    const unsigned char c = text[position];
    if (c == '\0') {
        return kFail;
    }
    bool found = false;
    if (atom.m_bNoCase) {
        const unsigned char folded = foldCase(c);
        for (const _OBJDATA& entry : atom) {
            if (foldCase(entry.ch) == folded) {
                found = true;
                break;
            }
        }
    } else {
        for (const _OBJDATA& entry : atom) {
            if (entry.ch == c) {
                found = true;
                break;
            }
        }
    }
    return found != static_cast<bool>(atom.m_bNegate) ? 1 : kFail;
}

void recordFailure(CObjExp& atom) {
    atom.m_nStart = atom.m_nEnd = -1;
    atom.m_bMatched = 0;
}

// An atom with its repeat at `position`, `test` being its single test (characters consumed or
// kFail). The test is passed in so that each kind of atom gets its own tight loop.
template <typename Test>
int repeatAtom(CObjExp& atom, const unsigned char* text, int position, Test test) {
    if (atom.m_nRepeat == CObjExp::kOnce || atom.m_nRepeat == CObjExp::kOptional) {
        const int length = test(position);
        if (length == kFail && atom.m_nRepeat == CObjExp::kOnce) {
            recordFailure(atom);
            return kFail;
        }
        atom.m_bMatched = length != kFail;
        atom.m_nStart = position;
        atom.m_nEnd = position + (length == kFail ? 0 : length);
        return atom.m_nEnd;
    }
    int reached = position;
    bool passedOnce = false;
    bool lastPassed = false;
    for (;;) {
        const int length = test(reached);
        lastPassed = length != kFail;
        if (!lastPassed) {
            break;
        }
        passedOnce = true;
        reached += length;
        // A test that consumed nothing would pass again forever; the end of the text is one.
        if (length == 0 || text[reached] == '\0') {
            break;
        }
    }
    if (atom.m_nRepeat == CObjExp::kOneOrMore && !passedOnce) {
        recordFailure(atom);
        return kFail;
    }
    atom.m_bMatched = lastPassed;
    atom.m_nStart = position;
    atom.m_nEnd = reached;
    return reached;
}

int matchAtom(CObjExp& atom, const unsigned char* text, int position) {
    if (atom.m_bLineStart) {
        return repeatAtom(atom, text, position, [text](int p) { return testLineStart(text, p); });
    }
    if (atom.m_bLineEnd) {
        const bool negate = atom.m_bNegate;
        return repeatAtom(atom, text, position,
                          [text, negate](int p) { return testLineEnd(text, p, negate); });
    }
    if (atom.m_bAnyChar) {
        return repeatAtom(atom, text, position, [text](int p) { return testAnyChar(text, p); });
    }
    return repeatAtom(atom, text, position,
                      [&atom, text](int p) { return testMembers(atom, text, p); });
}

int matchGroup(CObjExp& group, const unsigned char* text, int position) {
    for (int index = 0; index < group.GetSize(); ++index) {
        const int end = matchList(*group[index].alt, text, position);
        if (end != kFail) {
            group.m_nAlt = index;
            group.m_nStart = position;
            group.m_nEnd = end;
            group.m_bMatched = 1;
            return end;
        }
    }
    group.m_bMatched = 0;
    return kFail;
}

}  // namespace

int matchList(CExpList& list, const unsigned char* text, int position) {
    int index = 0;
    for (CObjExp& object : list) {
        if (++index > list.touched_) {
            list.touched_ = index;
        }
        switch (object.m_nType) {
            case CObjExp::kAtom:
                position = matchAtom(object, text, position);
                break;
            case CObjExp::kGroup:
                position = matchGroup(object, text, position);
                break;
            default:
                position = kFail;
                break;
        }
        if (position == kFail) {
            return kFail;
        }
    }
    return position;
}

}  // namespace pattern_detail

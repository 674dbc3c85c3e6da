// The compiler of the pattern language: one left-to-right walk that appends objects to a list and
// recurses once per group alternative.
#include <stdexcept>

#include "pattern/CExpList.h"

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of the escape whose character after the backslash stands at `i`, which must not be
// the terminating NUL. Leaves `i` on the escape's last character.
unsigned char escapeValue(const char* pattern, int& i) {
    switch (pattern[i]) {
        case 't':
            return 9;
        case 'n':
            return 10;
        case 'r':
            return 13;
        case 'b':
            return 8;
        case 'f':
            return 12;
        default:
            break;
    }
    if (!isDigit(pattern[i])) {
        return static_cast<unsigned char>(pattern[i]);
    }
    int value = pattern[i] - '0';
    for (int digits = 1; digits < 3 && isDigit(pattern[i + 1]); ++digits) {
        ++i;
        value = value * 10 + (pattern[i] - '0');
    }
    return static_cast<unsigned char>(value % 256);
}

// Parses the class whose `[` stands at `i` into `object`. On success `i` stands on the closing
// `]`; false when the pattern ends first (a `-` right before the `]` takes it as its range end).
bool parseClass(const char* pattern, int& i, CObjExp& object) {
    ++i;
    if (pattern[i] == '^') {
        object.m_bNegate = 1;
        ++i;
    }
    for (; pattern[i] != ']'; ++i) {
        const char c = pattern[i];
        if (c == '\0') {
            return false;
        }
        if (c == '$') {
            object.m_bLineEnd = 1;
        } else if (c == '-' && !object.empty()) {
            ++i;
            if (pattern[i] == '\0') {
                return false;
            }
            unsigned last = object.back().ch;
            unsigned rangeEnd = static_cast<unsigned char>(pattern[i]);
            if (pattern[i] == '\\') {
                ++i;
                if (pattern[i] == '\0') {
                    return false;
                }
                rangeEnd = escapeValue(pattern, i);
            }
            for (unsigned v = last + 1; v <= rangeEnd; ++v) {
                object.emplace_back(static_cast<unsigned char>(v));
            }
        } else if (c == '\\') {
            ++i;
            if (pattern[i] == '\0') {
                return false;
            }
            object.emplace_back(escapeValue(pattern, i));
        } else {
            object.emplace_back(static_cast<unsigned char>(c));
        }
    }
    // An empty class stays an object that never matches; `$` alone makes it a line-end test.
    if (!object.empty() || object.m_bLineEnd) {
        object.m_nType = CObjExp::kAtom;
    }
    return true;
}

void resetScratch(CObjExp& scratch, int noCase) {
    scratch = CObjExp();
    scratch.m_bNoCase = noCase ? 1 : 0;
}

}  // namespace

int CExpList::Compile(const char* pattern, int& consumed, int noCase) {
    if (pattern == nullptr) {
        throw std::invalid_argument("pattern is null");
    }
    return compileNested(pattern, consumed, noCase, 0);
}

int CExpList::compileNested(const char* pattern, int& consumed, int noCase, int depth) {
    clear();
    marks_ = 0;
    touched_ = 0;
    const int result = compileObjects(pattern, consumed, noCase, depth);
    countMarks();
    return result;
}

void CExpList::countMarks() {
    marks_ = 0;
    for (const CObjExp& object : *this) {
        marks_ += object.m_bMarkBefore + object.m_bMarkAfter;
        if (object.m_nType == CObjExp::kGroup) {
            for (const _OBJDATA& entry : object) {
                marks_ += entry.alt->marks_;
            }
        }
    }
}

int CExpList::compileObjects(const char* pattern, int& consumed, int noCase, int depth) {
    bool markPending = false;
    CObjExp scratch;
    int i = 0;
    for (; pattern[i] != '\0'; ++i) {
        resetScratch(scratch, noCase);
        if (markPending) {
            scratch.m_bMarkBefore = 1;
            markPending = false;
        }
        const char c = pattern[i];
        switch (c) {
            case ')':
            case '|':
                consumed = i;
                return 1;
            case '.':
                scratch.m_nType = CObjExp::kAtom;
                scratch.m_bAnyChar = 1;
                push_back(std::move(scratch));
                break;
            case '^':
                scratch.m_nType = CObjExp::kAtom;
                scratch.m_bLineStart = 1;
                push_back(std::move(scratch));
                break;
            case '$':
                scratch.m_nType = CObjExp::kAtom;
                scratch.m_bLineEnd = 1;
                push_back(std::move(scratch));
                break;
            case '\\':
                ++i;
                if (pattern[i] == '\0') {
                    consumed = i;
                    return 0;
                }
                if (pattern[i] == 'c') {
                    if (empty()) {
                        markPending = true;
                    } else {
                        back().m_bMarkAfter = 1;
                    }
                    break;
                }
                scratch.m_nType = CObjExp::kAtom;
                scratch.emplace_back(escapeValue(pattern, i));
                push_back(std::move(scratch));
                break;
            case '[':
                if (!parseClass(pattern, i, scratch)) {
                    consumed = i;
                    return 0;
                }
                push_back(std::move(scratch));
                break;
            case '*':
            case '+':
            case '?': {
                if (empty()) {
                    throw std::invalid_argument("quantifier with nothing to repeat");
                }
                // A repeated group or line start has no usable meaning (and `^*` would never
                // advance), so such a pattern is refused rather than compiled into one.
                CObjExp& last = back();
                if (last.m_nType == CObjExp::kGroup || last.m_bLineStart) {
                    throw std::invalid_argument("quantifier after a group or a line start");
                }
                last.m_nType = CObjExp::kAtom;
                last.m_nRepeat = c == '+'   ? CObjExp::kOneOrMore
                                 : c == '*' ? CObjExp::kZeroOrMore
                                            : CObjExp::kOptional;
                break;
            }
            case '(': {
                if (depth >= kMaxNesting) {
                    consumed = i;
                    return 0;
                }
                scratch.m_nType = CObjExp::kGroup;
                int last = 1;
                do {
                    auto alternative = std::make_unique<CExpList>();
                    int used = 0;
                    last = alternative->compileNested(pattern + i + 1, used, noCase, depth + 1);
                    scratch.emplace_back(std::move(alternative));
                    i += 1 + used;
                } while (last && pattern[i] == '|');
                push_back(std::move(scratch));
                if (!last || pattern[i] != ')') {
                    consumed = i;
                    return 0;
                }
                break;
            }
            default:
                scratch.m_nType = CObjExp::kAtom;
                scratch.emplace_back(static_cast<unsigned char>(c));
                push_back(std::move(scratch));
                break;
        }
    }
    consumed = i;
    return 1;
}

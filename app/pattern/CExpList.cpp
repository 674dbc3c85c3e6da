#include "pattern/CExpList.h"

#include <algorithm>
#include <climits>

_OBJDATA::_OBJDATA() = default;
_OBJDATA::_OBJDATA(unsigned char member) : ch(member) {}
_OBJDATA::_OBJDATA(std::unique_ptr<CExpList> alternative) : alt(std::move(alternative)) {}
_OBJDATA::_OBJDATA(_OBJDATA&&) noexcept = default;
_OBJDATA& _OBJDATA::operator=(_OBJDATA&&) noexcept = default;
_OBJDATA::~_OBJDATA() = default;

namespace {

// Both lookups walk the objects in the order that numbers marks and groups: an object's own marks
// (before, then after) or its own group number come before anything inside its alternatives.
// Only groups hold alternatives: the compiler never lets a group become anything else.

// The marks a lookup wants and what it found of them.
struct MarkQuery {
    int firstMark;
    int secondMark;
    int first = -1;
    int second = -1;

    // Records mark `number` if wanted; false once no wanted mark lies beyond it.
    bool take(int number, int position) {
        if (number == firstMark) {
            first = position;
        }
        if (number == secondMark) {
            second = position;
        }
        return number < std::max(firstMark, secondMark);
    }
    // The lowest wanted mark after `number`.
    int nextWanted(int number) const {
        int next = INT_MAX;
        if (firstMark > number) {
            next = firstMark;
        }
        if (secondMark > number) {
            next = std::min(next, secondMark);
        }
        return next;
    }
};

// Counts marks in numbering order, stepping over alternatives that hold no wanted mark. False
// once the query is answered.
bool findMarks(const CExpList& list, int& number, MarkQuery& query) {
    for (const CObjExp& object : list) {
        if (object.m_bMarkBefore && !query.take(++number, object.m_nStart)) {
            return false;
        }
        if (object.m_bMarkAfter && !query.take(++number, object.m_nEnd)) {
            return false;
        }
        if (object.m_nType != CObjExp::kGroup) {
            continue;
        }
        for (const _OBJDATA& entry : object) {
            const CExpList& alternative = *entry.alt;
            if (number + alternative.MarkCount() < query.nextWanted(number)) {
                number += alternative.MarkCount();
            } else if (!findMarks(alternative, number, query)) {
                return false;
            }
        }
    }
    return true;
}

bool findGroup(const CExpList& list, int& remaining, int& alt) {
    for (const CObjExp& object : list) {
        if (object.m_nType != CObjExp::kGroup) {
            continue;
        }
        if (--remaining == 0) {
            alt = object.m_nAlt;
            return true;
        }
        for (const _OBJDATA& entry : object) {
            if (findGroup(*entry.alt, remaining, alt)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

int CExpList::GetMarkPos(int n) const {
    int first = -1;
    int second = -1;
    GetMarkPair(n, n, first, second);
    return first;
}

void CExpList::GetMarkPair(int firstMark, int secondMark, int& first, int& second) const {
    MarkQuery query{firstMark, secondMark};
    if (std::max(firstMark, secondMark) > 0) {
        int number = 0;
        findMarks(*this, number, query);
    }
    first = query.first;
    second = query.second;
}

int CExpList::GetAltIndex(int n) const {
    int alt = -1;
    if (n > 0 && findGroup(*this, n, alt)) {
        return alt;
    }
    return -1;
}

void CExpList::ResetMatch() {
    touched_ = 0;
    for (CObjExp& object : *this) {
        object.ResetMatch();
        if (object.m_nType == CObjExp::kGroup) {
            for (_OBJDATA& entry : object) {
                entry.alt->ResetMatch();
            }
        }
    }
}

void CExpList::resetTouched() {
    const int count = std::min(touched_, GetSize());
    for (int i = 0; i < count; ++i) {
        CObjExp& object = (*this)[i];
        object.ResetMatch();
        if (object.m_nType == CObjExp::kGroup) {
            for (_OBJDATA& entry : object) {
                entry.alt->resetTouched();
            }
        }
    }
    touched_ = 0;
}

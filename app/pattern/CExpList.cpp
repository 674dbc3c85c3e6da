#include "pattern/CExpList.h"

_OBJDATA::_OBJDATA() = default;
_OBJDATA::_OBJDATA(unsigned char member) : ch(member) {}
_OBJDATA::_OBJDATA(std::unique_ptr<CExpList> alternative) : alt(std::move(alternative)) {}
_OBJDATA::_OBJDATA(_OBJDATA&&) noexcept = default;
_OBJDATA& _OBJDATA::operator=(_OBJDATA&&) noexcept = default;
_OBJDATA::~_OBJDATA() = default;

namespace {

// Both lookups walk the objects in the order that numbers marks and groups: an object's own marks
// (before, then after) or its own group number come before anything inside its alternatives.

bool findMark(const CExpList& list, int& remaining, int& position) {
    for (const CObjExp& object : list) {
        if (object.m_bMarkBefore && --remaining == 0) {
            position = object.m_nStart;
            return true;
        }
        if (object.m_bMarkAfter && --remaining == 0) {
            position = object.m_nEnd;
            return true;
        }
        for (const _OBJDATA& entry : object) {
            if (entry.alt && findMark(*entry.alt, remaining, position)) {
                return true;
            }
        }
    }
    return false;
}

bool findGroup(const CExpList& list, int& remaining, int& alt) {
    for (const CObjExp& object : list) {
        if (object.m_nType == CObjExp::kGroup && --remaining == 0) {
            alt = object.m_nAlt;
            return true;
        }
        for (const _OBJDATA& entry : object) {
            if (entry.alt && findGroup(*entry.alt, remaining, alt)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

int CExpList::GetMarkPos(int n) const {
    int position = -1;
    if (n > 0 && findMark(*this, n, position)) {
        return position;
    }
    return -1;
}

int CExpList::GetAltIndex(int n) const {
    int alt = -1;
    if (n > 0 && findGroup(*this, n, alt)) {
        return alt;
    }
    return -1;
}

void CExpList::ResetMatch() {
    for (CObjExp& object : *this) {
        object.ResetMatch();
        for (_OBJDATA& entry : object) {
            if (entry.alt) {
                entry.alt->ResetMatch();
            }
        }
    }
}

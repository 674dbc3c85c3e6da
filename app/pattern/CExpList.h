#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class CExpList;

namespace pattern_detail {
int matchList(CExpList& list, const unsigned char* text, int position);
}

// One entry of a pattern object: a member character of an atom, or one alternative of a group.
// The group owns its alternatives; moving an entry hands the alternative on, it is never shared.
struct _OBJDATA {
    unsigned char ch = 0;
    std::unique_ptr<CExpList> alt;

    _OBJDATA();
    explicit _OBJDATA(unsigned char member);
    explicit _OBJDATA(std::unique_ptr<CExpList> alternative);
    _OBJDATA(_OBJDATA&&) noexcept;
    _OBJDATA& operator=(_OBJDATA&&) noexcept;
    ~_OBJDATA();
};

// One pattern object: its entries (the array it is built on), the fields the compiler sets, and
// the state of the latest match attempt.
class CObjExp : public std::vector<_OBJDATA> {
  public:
    enum Type : std::int32_t { kEmpty = 0, kAtom = 1, kGroup = 2 };
    enum Repeat : std::int32_t { kOnce = 0, kOneOrMore = 1, kZeroOrMore = 2, kOptional = 3 };

    std::int32_t m_nType = kEmpty;
    std::int32_t m_nRepeat = kOnce;
    std::int32_t m_bNegate = 0;
    std::int32_t m_bAnyChar = 0;
    std::int32_t m_bLineEnd = 0;
    std::int32_t m_bLineStart = 0;
    std::int32_t m_bMarkAfter = 0;
    std::int32_t m_bMarkBefore = 0;
    std::int32_t m_bNoCase = 0;
    std::int32_t m_bMatched = 0;
    std::int32_t m_nAlt = -1;
    std::int32_t m_nStart = -1;
    std::int32_t m_nEnd = -1;

    int GetSize() const { return static_cast<int>(size()); }
    // The alternatives of a group, in written order (null for entries of an atom).
    CExpList* GetAlt(int index) const { return (*this)[index].alt.get(); }
    void ResetMatch() {
        m_bMatched = 0;
        m_nAlt = -1;
        m_nStart = -1;
        m_nEnd = -1;
    }
};

// An ordered list of pattern objects: a whole pattern, or one alternative of a group.
class CExpList : public std::vector<CObjExp> {
  public:
    // Groups may nest this deep; a deeper pattern is refused so that neither compiling nor
    // matching can run the stack out.
    static constexpr int kMaxNesting = 200;

    // Clears the list, then compiles `pattern` into it. Returns 1 on success, 0 when a class or
    // group is not closed, or an escape is cut off by the end of the pattern. `consumed` receives
    // the index of the pattern character where the compile stopped: a `)` or `|` ends it.
    // Throws std::invalid_argument for a quantifier with nothing to repeat.
    int Compile(const char* pattern, int& consumed, int noCase);

    // The text position recorded at mark `n` (numbered from 1) by the latest match, or -1.
    int GetMarkPos(int n) const;
    // Both marks' positions in one walk over the pattern, each -1 as GetMarkPos would give it.
    void GetMarkPair(int firstMark, int secondMark, int& first, int& second) const;
    // The alternative (from 0) that group `n` (numbered from 1) took in the latest match, or -1.
    int GetAltIndex(int n) const;

    int GetSize() const { return static_cast<int>(size()); }
    // The number of marks in this list and its alternatives, as compiled.
    int MarkCount() const { return marks_; }
    // Puts the match state of every object, alternatives included, back to "not matched".
    void ResetMatch();

  private:
    friend class CMatch;
    friend int pattern_detail::matchList(CExpList& list, const unsigned char* text, int position);

    int compileNested(const char* pattern, int& consumed, int noCase, int depth);
    int compileObjects(const char* pattern, int& consumed, int noCase, int depth);
    void countMarks();
    // Resets only what the matcher wrote since the last reset.
    void resetTouched();

    // Counted by the compiler so that a mark lookup can step over whole alternatives.
    int marks_ = 0;
    // How many leading objects the matcher has written since the last reset: a reset need go no
    // further, and alternatives never tried need none at all.
    int touched_ = 0;
};

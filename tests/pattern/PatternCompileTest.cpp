#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "pattern/CMatch.h"

namespace {

std::string entries(const CObjExp& object) {
    std::string out;
    for (const _OBJDATA& entry : object) {
        out.push_back(static_cast<char>(entry.ch));
    }
    return out;
}

struct Compiled {
    CExpList list;
    int result = -1;
    int consumed = -1;
};

Compiled compile(const char* pattern, int noCase = 1) {
    Compiled c;
    c.result = c.list.Compile(pattern, c.consumed, noCase);
    return c;
}

TEST(PatternCompile, ClassesListTheirMembers) {
    Compiled c = compile("[^\\]]+");
    ASSERT_EQ(c.list.GetSize(), 1);
    const CObjExp& o = c.list[0];
    EXPECT_EQ(o.m_nType, 1);
    EXPECT_EQ(o.m_nRepeat, 1);
    EXPECT_EQ(o.m_bNegate, 1);
    EXPECT_EQ(entries(o), "]");

    EXPECT_EQ(entries(compile("[ \\t]").list[0]), " \t");
    EXPECT_EQ(entries(compile("[0-9]").list[0]), "0123456789");
    EXPECT_EQ(entries(compile("[-a]").list[0]), "-a");
    EXPECT_EQ(entries(compile("[a-c-e]").list[0]), "abcde");
    // A range that does not go up adds nothing; one that ends at 255 must not wrap around.
    EXPECT_EQ(entries(compile("[z-a]").list[0]), "z");
    EXPECT_EQ(compile("[\\250-\\255]").list[0].GetSize(), 6);
    EXPECT_EQ(compile("[\\255-\\255]").list[0].GetSize(), 1);
    // `^` only negates in first place; inside a class `\c` is the letter and `\]` the bracket.
    EXPECT_EQ(entries(compile("[a^]").list[0]), "a^");
    EXPECT_EQ(entries(compile("[\\c\\]\\t\\065]").list[0]), "c]\tA");
    EXPECT_EQ(entries(compile("[a-\\100]").list[0]), "abcd");
}

TEST(PatternCompile, EmptyClassesAndLineEndClasses) {
    for (const char* p : {"[]", "[^]"}) {
        Compiled c = compile(p);
        EXPECT_EQ(c.result, 1) << p;
        ASSERT_EQ(c.list.GetSize(), 1) << p;
        EXPECT_EQ(c.list[0].m_nType, 0) << p;
    }
    Compiled c = compile("[^$]");
    EXPECT_EQ(c.list[0].m_nType, 1);
    EXPECT_EQ(c.list[0].m_bLineEnd, 1);
    EXPECT_EQ(c.list[0].m_bNegate, 1);
    EXPECT_EQ(c.list[0].GetSize(), 0);
}

TEST(PatternCompile, AtomsAndTheirFlags) {
    Compiled c = compile(".^$x");
    ASSERT_EQ(c.list.GetSize(), 4);
    EXPECT_EQ(c.list[0].m_bAnyChar, 1);
    EXPECT_EQ(c.list[1].m_bLineStart, 1);
    EXPECT_EQ(c.list[2].m_bLineEnd, 1);
    EXPECT_EQ(entries(c.list[3]), "x");
    for (const CObjExp& o : c.list) {
        EXPECT_EQ(o.m_nType, 1);
        EXPECT_EQ(o.m_bNoCase, 1);
        EXPECT_EQ(o.m_nAlt, -1);
        EXPECT_EQ(o.m_nStart, -1);
        EXPECT_EQ(o.m_nEnd, -1);
    }
    EXPECT_EQ(compile("x", 0).list[0].m_bNoCase, 0);
    Compiled q = compile("a*b+c?");
    EXPECT_EQ(q.list[0].m_nRepeat, 2);
    EXPECT_EQ(q.list[1].m_nRepeat, 1);
    EXPECT_EQ(q.list[2].m_nRepeat, 3);
    // Characters special nowhere else are literals.
    Compiled l = compile("]{}-=/<>\" ");
    EXPECT_EQ(l.list.GetSize(), 10);
}

TEST(PatternCompile, Escapes) {
    Compiled c = compile("\\t\\n\\r\\b\\f\\[\\.\\\\\\$\\(");
    ASSERT_EQ(c.list.GetSize(), 10);
    std::string values;
    for (const CObjExp& o : c.list) {
        values += entries(o);
    }
    EXPECT_EQ(values, "\t\n\r\b\f[.\\$(");

    EXPECT_EQ(entries(compile("\\65").list[0]), "A");
    Compiled code = compile("\\1234");
    ASSERT_EQ(code.list.GetSize(), 2);
    EXPECT_EQ(entries(code.list[0]), "{");  // 123
    EXPECT_EQ(entries(code.list[1]), "4");
    EXPECT_EQ(code.list[0].at(0).ch, 123);
    EXPECT_EQ(compile("\\300").list[0][0].ch, 300 % 256);
    EXPECT_EQ(compile("\\0").list[0][0].ch, 0);
}

TEST(PatternCompile, TopLevelCloseOrBarEndsTheCompile) {
    Compiled bar = compile("a|b");
    EXPECT_EQ(bar.result, 1);
    EXPECT_EQ(bar.consumed, 1);
    ASSERT_EQ(bar.list.GetSize(), 1);
    EXPECT_EQ(entries(bar.list[0]), "a");

    Compiled close = compile("abc)def");
    EXPECT_EQ(close.result, 1);
    EXPECT_EQ(close.consumed, 3);
    EXPECT_EQ(close.list.GetSize(), 3);

    Compiled all = compile("abc");
    EXPECT_EQ(all.consumed, 3);
    Compiled empty = compile("");
    EXPECT_EQ(empty.result, 1);
    EXPECT_EQ(empty.consumed, 0);
    EXPECT_TRUE(empty.list.empty());
}

TEST(PatternCompile, GroupsHoldOneListPerAlternative) {
    Compiled c = compile("(ab|cd)");
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.consumed, 7);
    ASSERT_EQ(c.list.GetSize(), 1);
    const CObjExp& g = c.list[0];
    EXPECT_EQ(g.m_nType, 2);
    ASSERT_EQ(g.GetSize(), 2);
    EXPECT_EQ(entries((*g.GetAlt(0))[0]) + entries((*g.GetAlt(0))[1]), "ab");
    EXPECT_EQ(entries((*g.GetAlt(1))[0]) + entries((*g.GetAlt(1))[1]), "cd");

    Compiled open = compile("(ab");
    EXPECT_EQ(open.result, 0);
    ASSERT_EQ(open.list.GetSize(), 1);
    EXPECT_EQ(open.list[0].GetSize(), 1);
    EXPECT_EQ(open.list[0].GetAlt(0)->GetSize(), 2);

    // Empty groups and empty alternatives are allowed.
    Compiled e = compile("(|a|)x");
    EXPECT_EQ(e.result, 1);
    ASSERT_EQ(e.list.GetSize(), 2);
    EXPECT_EQ(e.list[0].GetSize(), 3);
    EXPECT_TRUE(e.list[0].GetAlt(0)->empty());
    EXPECT_TRUE(e.list[0].GetAlt(2)->empty());
    EXPECT_EQ(compile("()").list[0].GetSize(), 1);
}

TEST(PatternCompile, UnclosedClassFailsAndKeepsWhatCameBefore) {
    // The `-` takes the `]` as its range end, so the class never closes.
    Compiled c = compile("x[a-]x");
    EXPECT_EQ(c.result, 0);
    ASSERT_EQ(c.list.GetSize(), 1);
    EXPECT_EQ(entries(c.list[0]), "x");
    EXPECT_EQ(compile("[abc").result, 0);
    EXPECT_EQ(compile("[^").result, 0);
    // ...while a later `]` still closes it.
    Compiled later = compile("[a-]x]");
    EXPECT_EQ(later.result, 1);
    EXPECT_EQ(entries(later.list[0]), "ax");
}

TEST(PatternCompile, PatternsCutOffInsideAnEscapeOrRangeFail) {
    // Each of these ends where the compiler would otherwise read the next character.
    for (const char* p : {"ab\\", "[a-", "[a\\", "[a-\\", "(a\\", "(x|[a-"}) {
        Compiled c = compile(p);
        EXPECT_EQ(c.result, 0) << p;
        EXPECT_EQ(c.consumed, static_cast<int>(std::string(p).size())) << p;
    }
    EXPECT_EQ(compile("ab\\").list.GetSize(), 2);
}

TEST(PatternCompile, QuantifierWithNothingToRepeatThrows) {
    for (const char* p : {"*a", "+", "(?a)", "(a|*b)", "\\c*"}) {
        CExpList list;
        int consumed = 0;
        EXPECT_THROW(list.Compile(p, consumed, 1), std::invalid_argument) << p;
    }
    // Repeating a group or a line start would compare alternatives as characters, or never
    // advance; both are refused.
    for (const char* p : {"(a)*", "^+", "x^?"}) {
        CExpList list;
        int consumed = 0;
        EXPECT_THROW(list.Compile(p, consumed, 1), std::invalid_argument) << p;
    }
    EXPECT_THROW(CMatch("*x"), std::invalid_argument);
    // A repeated empty class becomes an atom with that repeat.
    Compiled c = compile("[]*");
    EXPECT_EQ(c.list[0].m_nType, 1);
    EXPECT_EQ(c.list[0].m_nRepeat, 2);
}

TEST(PatternCompile, MarksGoOnTheObjectBeforeOrTheNextOne) {
    Compiled both = compile("\\c[^$]+\\c");
    ASSERT_EQ(both.list.GetSize(), 1);
    EXPECT_EQ(both.list[0].m_bMarkBefore, 1);
    EXPECT_EQ(both.list[0].m_bMarkAfter, 1);

    Compiled header = compile("Content-Length:[ \\t]*\\c[0-9]+\\c");
    const int n = header.list.GetSize();
    ASSERT_EQ(n, 17);
    EXPECT_EQ(header.list[n - 2].m_bMarkAfter, 1);
    EXPECT_EQ(header.list[n - 1].m_bMarkAfter, 1);
    EXPECT_EQ(header.list[n - 1].m_bMarkBefore, 0);

    // A mark opening an alternative goes before its first object; with nothing after it, it is
    // dropped.
    Compiled alt = compile("(\\ca|b\\c)");
    EXPECT_EQ(alt.list[0].GetAlt(0)->at(0).m_bMarkBefore, 1);
    EXPECT_EQ(alt.list[0].GetAlt(1)->at(0).m_bMarkAfter, 1);
    Compiled dropped = compile("(\\c)");
    EXPECT_TRUE(dropped.list[0].GetAlt(0)->empty());
    EXPECT_EQ(compile("\\c").list.GetSize(), 0);
}

TEST(PatternCompile, RecompilingReplacesThePattern) {
    CMatch match("(a|(b|c))x");
    int consumed = 0;
    EXPECT_EQ(match.List().Compile("^Pivvet$", consumed, 0), 1);
    EXPECT_EQ(match.List().GetSize(), 8);
    EXPECT_EQ(match.List()[1].m_bNoCase, 0);
    EXPECT_EQ(match.Match("Pivvet"), 1);
    EXPECT_EQ(match.Match("pivvet"), 0);
}

TEST(PatternCompile, NestingBeyondTheLimitFails) {
    const int depth = CExpList::kMaxNesting;
    const std::string ok = std::string(depth, '(') + "a" + std::string(depth, ')');
    const std::string deep = "(" + ok + ")";
    EXPECT_EQ(compile(ok.c_str()).result, 1);
    EXPECT_EQ(compile(deep.c_str()).result, 0);
    CMatch match(ok.c_str());
    EXPECT_EQ(match.Match("xa"), 1);
    EXPECT_EQ(match.List().GetAltIndex(depth), 0);
    // Far deeper input is refused the same way rather than running the stack out.
    const std::string abuse(100000, '(');
    EXPECT_EQ(compile(abuse.c_str()).result, 0);
}

}  // namespace

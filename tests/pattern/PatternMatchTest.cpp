#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "pattern/CMatch.h"

namespace {

// Matches and returns the end of the match, or -1 when there is none.
int matchEnd(CMatch& match, const char* text, int start = 0) {
    int end = -1;
    return match.Match(text, start, &end) ? end : -1;
}

int matchEnd(const char* pattern, const char* text, int start = 0) {
    CMatch match(pattern);
    return matchEnd(match, text, start);
}

TEST(PatternMatch, GreedyWithoutBacktracking) {
    EXPECT_EQ(matchEnd("a*a", "aaa"), -1);
    EXPECT_EQ(matchEnd("a*b", "aaab"), 4);
    EXPECT_EQ(matchEnd("(a|ab)c", "abc"), -1);
    EXPECT_EQ(matchEnd("(ab|a)c", "ac"), 2);
    EXPECT_EQ(matchEnd("(ab|a)c", "abc"), 3);
    EXPECT_EQ(matchEnd("x?x", "x"), -1);
    EXPECT_EQ(matchEnd("x?y", "y"), 1);
    EXPECT_EQ(matchEnd("a+", "baaa"), 4);
    EXPECT_EQ(matchEnd("[0-9]+", "ab12c"), 4);
    // The first alternative that matches is kept even when the rest of the pattern then fails.
    CMatch first("(a|a.)x");
    EXPECT_EQ(matchEnd(first, "abx"), -1);
}

TEST(PatternMatch, SearchStartsAtStartAndNeverAtTheEnd) {
    EXPECT_EQ(matchEnd("b", "abab", 2), 4);
    EXPECT_EQ(matchEnd("b", "abab", 4), -1);
    EXPECT_EQ(matchEnd("x*", ""), -1);
    EXPECT_EQ(matchEnd("$", ""), -1);
    EXPECT_EQ(matchEnd("$", "x"), -1);
    EXPECT_EQ(matchEnd("$", "x\n"), 2);
    // A start beyond the text's end finds nothing and reads nothing there.
    const char text[] = "ab\0zz";
    EXPECT_EQ(matchEnd("z", text, 3), -1);
    EXPECT_EQ(matchEnd("^z", text, 4), -1);
    CMatch m("a");
    EXPECT_THROW(m.Match("a", -1), std::invalid_argument);
}

TEST(PatternMatch, LineStartAnchorsTheSingleAttempt) {
    EXPECT_EQ(matchEnd("^[ \t]*$", ""), 0);
    EXPECT_EQ(matchEnd("^b", "a\nb"), -1);
    EXPECT_EQ(matchEnd("^b", "a\nb", 2), 3);
    EXPECT_EQ(matchEnd("^b", "a\rb", 2), 3);
    EXPECT_EQ(matchEnd("^b", "ab", 1), -1);
    // Not first in the pattern, `^` is a test at each searched position.
    EXPECT_EQ(matchEnd("(^b)", "a\nb"), 3);
    EXPECT_EQ(matchEnd("x^", "x"), -1);
}

TEST(PatternMatch, LineEnds) {
    // `[^$]+` stops before CR LF; a following `$` takes the pair, or a lone CR or LF.
    CMatch value("=\\c[^$]+\\c$");
    const char* line = "Measure = Peak\r\n";
    EXPECT_EQ(matchEnd(value, line), 16);
    EXPECT_EQ(value.GetText(1, 2, line), " Peak");
    EXPECT_EQ(matchEnd("a$", "a\rb"), 2);
    EXPECT_EQ(matchEnd("a$b", "a\nb"), 3);
    EXPECT_EQ(matchEnd("a$", "a"), 1);
    EXPECT_EQ(matchEnd("a[$]", "a\r\n"), 3);
    // A negated line end passes on one ordinary character and fails at the end of the text.
    EXPECT_EQ(matchEnd("a[^$]", "ab"), 2);
    EXPECT_EQ(matchEnd("a[^$]", "a"), -1);
    EXPECT_EQ(matchEnd("a[^$]", "a\n"), -1);
    EXPECT_EQ(matchEnd("[^$]*", "xyz"), 3);
    EXPECT_EQ(matchEnd("$+", "\n\r\n\rx"), 4);
    // Other members of a line-end class are not consulted.
    EXPECT_EQ(matchEnd("[$a]", "a"), -1);
}

TEST(PatternMatch, AtomTests) {
    EXPECT_EQ(matchEnd(".", "\n"), 1);
    EXPECT_EQ(matchEnd(".+", "a\r\nb"), 4);
    EXPECT_EQ(matchEnd("[]", "abc"), -1);
    EXPECT_EQ(matchEnd("x[^]", "xy"), -1);
    EXPECT_EQ(matchEnd("[^a]", "aab"), 3);
    EXPECT_EQ(matchEnd("[^a]+", "a"), -1);
    // Only ASCII letters fold: `[` and `{` stay apart, as do bytes above 127.
    EXPECT_EQ(matchEnd("abc", "xABC"), 4);
    EXPECT_EQ(matchEnd("[A-C]+", "abcd"), 3);
    EXPECT_EQ(matchEnd("\\[", "{"), -1);
    EXPECT_EQ(matchEnd("\\228", "\xc4"), -1);
    EXPECT_EQ(matchEnd("\\228", "\xe4"), 1);
    // A literal NUL can never match, and no test steps over the terminating one.
    EXPECT_EQ(matchEnd("a\\0", "a"), -1);
    EXPECT_EQ(matchEnd("a[^x]", "a"), -1);
    int consumed = 0;
    CMatch exact("x");
    exact.List().Compile("abc", consumed, 0);
    EXPECT_EQ(matchEnd(exact, "ABC"), -1);
    EXPECT_EQ(matchEnd(exact, "abc"), 3);
}

TEST(PatternMatch, RepeatSpansAndResults) {
    CMatch m("a?b*c+");
    ASSERT_EQ(matchEnd(m, "bbc"), 3);
    const CExpList& l = m.List();
    EXPECT_EQ(l[0].m_bMatched, 0);  // `?` that took nothing
    EXPECT_EQ(l[0].m_nStart, 0);
    EXPECT_EQ(l[0].m_nEnd, 0);
    EXPECT_EQ(l[1].m_nStart, 0);
    EXPECT_EQ(l[1].m_nEnd, 2);
    EXPECT_EQ(l[1].m_bMatched, 0);  // the star's last test failed on `c`
    EXPECT_EQ(l[2].m_nEnd, 3);
    EXPECT_EQ(l[2].m_bMatched, 1);
    // A star that ran into the end of the text reports its last test as passed.
    ASSERT_EQ(matchEnd(m, "cbb", 1), -1);
    CMatch tail("xb*");
    ASSERT_EQ(matchEnd(tail, "xbb"), 3);
    EXPECT_EQ(tail.List()[1].m_bMatched, 1);
}

TEST(PatternMatch, MarksAreNumberedByTheWalk) {
    // A group's own after-mark is numbered before the marks inside it.
    CMatch m("\\cx(\\ca\\c|b\\c)\\cy\\c");
    const char* text = "--xby";
    ASSERT_EQ(matchEnd(m, text), 5);
    const CExpList& l = m.List();
    EXPECT_EQ(l.GetMarkPos(1), 2);   // before x
    EXPECT_EQ(l.GetMarkPos(2), 4);   // after the group
    EXPECT_EQ(l.GetMarkPos(3), -1);  // before a: alternative not taken
    EXPECT_EQ(l.GetMarkPos(4), -1);  // after a
    EXPECT_EQ(l.GetMarkPos(5), 4);   // after b
    EXPECT_EQ(l.GetMarkPos(6), 5);   // after y
    EXPECT_EQ(l.GetMarkPos(7), -1);
    EXPECT_EQ(l.GetMarkPos(0), -1);
    EXPECT_EQ(m.GetText(1, 2, text), "xb");
    EXPECT_EQ(m.GetText(1, 3, text), "");
    EXPECT_EQ(m.GetText(2, 1, text), "");
    EXPECT_EQ(m.GetText(5, 5, text), "");
}

TEST(PatternMatch, MarksInsideNestedAndSkippedAlternatives) {
    // Lookups step over whole alternatives by their mark counts; every number must still land on
    // its own mark, whether asked alone or in a pair.
    CMatch m("(\\ca(\\cb\\c|c)\\c|d\\c(e\\c|\\cf\\c)g\\c)\\ch");
    const char* text = "dfgh";
    ASSERT_EQ(matchEnd(m, text), 4);
    EXPECT_EQ(m.List().MarkCount(), 10);
    const int expected[] = {3, -1, -1, -1, -1, 1, -1, 1, 2, 3};
    for (int n = 1; n <= 10; ++n) {
        EXPECT_EQ(m.List().GetMarkPos(n), expected[n - 1]) << n;
    }
    EXPECT_EQ(m.GetText(8, 9, text), "f");
    EXPECT_EQ(m.GetText(6, 10, text), "fg");
    EXPECT_EQ(m.GetText(9, 10, text), "g");
    EXPECT_EQ(m.GetText(2, 9, text), "");
}

TEST(PatternMatch, GroupsAreNumberedOutsideIn) {
    CMatch m("(x(a|b)|y)(c|(d|e))");
    ASSERT_EQ(matchEnd(m, "xbe"), 3);
    const CExpList& l = m.List();
    EXPECT_EQ(l.GetAltIndex(1), 0);
    EXPECT_EQ(l.GetAltIndex(2), 1);
    EXPECT_EQ(l.GetAltIndex(3), 1);
    EXPECT_EQ(l.GetAltIndex(4), 1);
    EXPECT_EQ(l.GetAltIndex(5), -1);
    ASSERT_EQ(matchEnd(m, "yc"), 2);
    EXPECT_EQ(l.GetAltIndex(2), -1);  // reset by the new match
    EXPECT_EQ(l.GetAltIndex(4), -1);
}

TEST(PatternMatch, EveryAttemptStartsFromAClearState) {
    // The attempt at 0 records a span for `b` before `z` fails; the match at 3 never reaches `b`
    // and must not show that span.
    CMatch m("(ab\\cz|\\cx\\c)");
    const char* text = "ab-x";
    ASSERT_EQ(matchEnd(m, text), 4);
    EXPECT_EQ(m.List().GetMarkPos(1), -1);
    EXPECT_EQ(m.GetText(2, 3, text), "x");
}

TEST(PatternMatch, FailedAlternativesKeepTheirSpansUntilTheNextMatch) {
    CMatch m("(a\\cx|ab)");
    ASSERT_EQ(matchEnd(m, "ab"), 2);
    EXPECT_EQ(m.List().GetAltIndex(1), 1);
    EXPECT_EQ(m.List().GetMarkPos(1), 1);
}

TEST(PatternMatch, AFailedSearchClearsTheLatestResults) {
    CMatch m("\\ca\\c");
    ASSERT_EQ(matchEnd(m, "xa"), 2);
    EXPECT_EQ(m.List().GetMarkPos(1), 1);
    // Failing without any attempt (at the end of the text, or beyond it) counts as well.
    for (int start : {2, 3}) {
        ASSERT_EQ(matchEnd(m, "xa"), 2);
        EXPECT_EQ(matchEnd(m, "xa", start), -1);
        EXPECT_EQ(m.List().GetMarkPos(1), -1) << start;
        EXPECT_EQ(m.List()[0].m_bMatched, 0) << start;
    }
}

TEST(PatternMatch, EmptyPatternCannotMatch) {
    CMatch m("");
    EXPECT_THROW(m.Match("abc"), std::invalid_argument);
    CMatch marks("\\c");
    EXPECT_THROW(marks.Match("abc"), std::invalid_argument);
}

TEST(PatternMatch, UnclosedPatternsMatchWhatCompiled) {
    // The constructor ignores the failure; the objects before the open class form the pattern.
    CMatch m("ab[cd");
    EXPECT_EQ(matchEnd(m, "xab"), 3);
    CMatch g("x(ab");
    EXPECT_EQ(matchEnd(g, "xab"), 3);
}

}  // namespace

// The system's own patterns, verbatim, on the lines they meet in sequence files, HTTP reply
// headers and the update page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pattern/CMatch.h"

namespace {

// A TAB stands in these patterns as the character itself.
const char* const kInsideSection =
    "^[ \t]*(\\[\\c[^\\]]+\\c\\]|//[^$]+|^[ \t]*$|Measure[ \t]*=[ \t]*\\c[^$]+\\c|"
    "TA[ \t]*=[ \t]*\\c[^$]+\\c|Threshold[ \t]*=[ \t]*\\c[^$]+\\c|Rele[ \t]*=[ \t]*\\c[^$]+\\c|"
    "\\c[^$]+\\c)";
const char* const kOutsideSection = "(^[ \t]*\\[\\c[^\\]]+\\c\\]|^[ \t]*//[^$]+|^[ \t]*$)";
const char* const kContentLength = "Content-Length:[ \t]*\\c[0-9]+\\c";
const char* const kLinkTag = "<[ \t]*a[ \t]+href[ \t]*=[ \t]*\"\\c[^\"]+\\c\"[ \t]*>";
const char* const kLinkEnd = "</a>";
const char* const kTag = "\\c<[^>]+>\\c";
const char* const kUpdaterName = "^Pivvet$";

struct Line {
    const char* text;
    int alt;            // -1: no match
    std::string value;  // the alternative's marked text, if it has marks
};

// Matches the line and checks which top-level alternative took it (or that none did). True when
// the line matched, so the caller can check the marks of that alternative.
bool matchesAlternative(CMatch& match, const Line& line) {
    const int matched = match.Match(line.text, 0);
    if (line.alt < 0) {
        EXPECT_EQ(matched, 0);
        return false;
    }
    EXPECT_NE(matched, 0);
    EXPECT_EQ(match.List().GetAltIndex(1), line.alt);
    return matched != 0;
}

// Marks of each alternative of the inside-section pattern: 1-2, none, none, 3-4 ... 11-12.
int firstMarkOf(int alt) {
    return alt == 0 ? 1 : alt >= 3 ? 2 * alt - 3 : 0;
}

TEST(SystemPatterns, InsideSectionLines) {
    const std::vector<Line> lines = {
        {"[Base] anything", 0, "Base"},
        {" \t[ two words ]", 0, " two words "},
        {"// a comment", 1, ""},
        {"  //x", 1, ""},
        {"", 2, ""},
        {"measure = PEAK", 3, "PEAK"},
        {"Measure=Peak ", 3, "Peak "},
        {"\tMEASURE\t=\tAverage", 3, "Average"},
        {"TA = 8", 4, "8"},
        {"ta=x", 4, "x"},
        {"Threshold =\t-2.5", 5, "-2.5"},
        {"Rele = on", 6, "on"},
        {"Rele = OFF ", 6, "OFF "},
        {"  *RST", 7, "*RST"},
        {"VOLT 0.1 ;// note", 7, "VOLT 0.1 ;// note"},
        {"//", 7, "//"},
        {"TAB = 1", 7, "TAB = 1"},
        {"Measure: Peak", 7, "Measure: Peak"},
        {"Measure = ", 7, "Measure = "},  // a keyword with no value is a command
        {"[abc", 7, "[abc"},
        {"[]", 7, "[]"},
        {"  ", -1, ""},
        {"\t \t", -1, ""},
    };
    CMatch match(kInsideSection);
    for (const Line& line : lines) {
        SCOPED_TRACE(line.text);
        if (!matchesAlternative(match, line)) {
            continue;
        }
        EXPECT_EQ(match.List().GetAltIndex(2), -1);
        const int mark = firstMarkOf(line.alt);
        if (mark > 0) {
            EXPECT_EQ(match.GetText(mark, mark + 1, line.text), line.value);
        }
        // Later alternatives were never tried: their marks read as nothing.
        for (int other = line.alt + 1; other < 8; ++other) {
            const int m = firstMarkOf(other);
            if (m > 0) {
                EXPECT_EQ(match.List().GetMarkPos(m), -1) << other;
            }
        }
    }
}

TEST(SystemPatterns, InsideSectionValueStopsAtTheLineEnd) {
    CMatch match(kInsideSection);
    const char* text = "Measure = Peak\r\n";
    int end = 0;
    ASSERT_TRUE(match.Match(text, 0, &end));
    EXPECT_EQ(match.GetText(3, 4, text), "Peak");
    EXPECT_EQ(end, 14);
}

TEST(SystemPatterns, OutsideSectionLines) {
    const std::vector<Line> lines = {
        {"[Base] anything", 0, "Base"},
        {"\t [x]", 0, "x"},
        {"[a]b]", 0, "a"},
        {"// c", 1, ""},
        {" \t//c", 1, ""},
        {"  ", 2, ""},
        {"[]", -1, ""},
        {"//", -1, ""},
        {"junk", -1, ""},
        {"x [Base]", -1, ""},
        {"[unclosed", -1, ""},
    };
    CMatch match(kOutsideSection);
    for (const Line& line : lines) {
        SCOPED_TRACE(line.text);
        if (!matchesAlternative(match, line)) {
            continue;
        }
        if (line.alt == 0) {
            EXPECT_EQ(match.GetText(1, 2, line.text), line.value);
        }
    }
}

TEST(SystemPatterns, ContentLengthOfAReplyHeader) {
    CMatch match(kContentLength);
    const char* header = "HTTP/1.1 200 OK\r\nContent-Length: 1234\r\nServer: x\r\n\r\n";
    ASSERT_TRUE(match.Match(header, 0));
    EXPECT_EQ(match.GetText(1, 2, header), "1234");
    const char* lower = "HTTP/1.0 200 OK\r\ncontent-length:\t42\r\n\r\n";
    ASSERT_TRUE(match.Match(lower, 0));
    EXPECT_EQ(match.GetText(1, 2, lower), "42");
    EXPECT_FALSE(match.Match("HTTP/1.1 200 OK\r\nContent-Length: \r\n\r\n", 0));
}

// The links of an update page, their tags removed from the link texts, as the update scan finds
// them: address and cleaned text of each.
std::vector<std::pair<std::string, std::string>> scanLinks(const std::string& page) {
    std::vector<std::pair<std::string, std::string>> links;
    CMatch link("x");
    CMatch close("x");
    CMatch tag(kTag);
    int consumed = 0;
    link.List().Compile(kLinkTag, consumed, 1);
    close.List().Compile(kLinkEnd, consumed, 1);
    int from = 0;
    int tagEnd = 0;
    while (link.Match(page.c_str(), from, &tagEnd)) {
        const std::string address = link.GetText(1, 2, page.c_str());
        int closeEnd = 0;
        if (!close.Match(page.c_str(), tagEnd, &closeEnd)) {
            break;
        }
        std::string text = page.substr(tagEnd, closeEnd - 4 - tagEnd);
        while (tag.Match(text.c_str(), 0)) {
            const int a = tag.List().GetMarkPos(1);
            const int b = tag.List().GetMarkPos(2);
            text.erase(a, b - a);
        }
        links.emplace_back(address, text);
        from = closeEnd;
    }
    return links;
}

TEST(SystemPatterns, LinksOfAnUpdatePage) {
    const std::string page =
        "<html><body><a name=\"top\">top</a><p>Downloads</p>\r\n"
        "<A HREF=\"files/Pivvet\">Pivvet</a>\r\n"
        "< a\thref = \"other.zip\" >Other <b>new</b> <i class=\"x\">build</I></A>\r\n"
        "<a href=\"\">empty</a></body></html>";
    const auto links = scanLinks(page);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0].first, "files/Pivvet");
    EXPECT_EQ(links[0].second, "Pivvet");
    EXPECT_EQ(links[1].first, "other.zip");
    EXPECT_EQ(links[1].second, "Other new build");

    CMatch name("x");
    int consumed = 0;
    name.List().Compile(kUpdaterName, consumed, 0);
    EXPECT_TRUE(name.Match(links[0].second.c_str(), 0));
    EXPECT_FALSE(name.Match("pivvet", 0));
    EXPECT_FALSE(name.Match("PIVVET", 0));
    EXPECT_FALSE(name.Match("Pivvet2", 0));
    EXPECT_FALSE(name.Match(links[1].second.c_str(), 0));
}

}  // namespace

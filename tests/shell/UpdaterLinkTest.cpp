#include <gtest/gtest.h>

#include "shell/UpdaterLink.h"

namespace {

using tarvo::FindUpdaterLink;
using tarvo::MakeDownloadAddress;

struct LinkCase {
    const char* page;
    bool found;
    const char* target;  // when found
};

TEST(UpdaterLink, OnlyPlainAnchorsNamedExactlyPivvetCount) {
    const LinkCase cases[] = {
        {"<a href=\"files/Pivvet\">Pivvet</a>", true, "files/Pivvet"},
        {"<A HREF=\"files/Pivvet\">Pivvet</A>", true, "files/Pivvet"},
        {"< a \t href\t=  \"x/Pivvet\"\t >Pivvet</a>", true, "x/Pivvet"},
        // Markup and line breaks inside the anchor text go before the comparison.
        {"<a href=\"p\"><b>Pivvet</b></a>", true, "p"},
        {"<a href=\"p\"><span class=\"n\">Piv</span>vet\r\n</a>", true, "p"},
        {"<a href=\"p\">\r\nPivvet\n</a>", true, "p"},
        // Anything else in the tag, other quotes or a line break in it hide the link.
        {"<a class=\"dl\" href=\"p\">Pivvet</a>", false, ""},
        {"<a href=\"p\" title=\"new\">Pivvet</a>", false, ""},
        {"<a href='p'>Pivvet</a>", false, ""},
        {"<a\nhref=\"p\">Pivvet</a>", false, ""},
        {"<a href=\"p\"\n>Pivvet</a>", false, ""},
        // The name must stand alone, in its own case.
        {"<a href=\"p\"> Pivvet</a>", false, ""},
        {"<a href=\"p\">&nbsp;Pivvet</a>", false, ""},
        {"<a href=\"p\">Pivvet 2.1</a>", false, ""},
        {"<a href=\"p\">Get Pivvet</a>", false, ""},
        {"<a href=\"p\">pivvet</a>", false, ""},
        {"<a href=\"p\">Pivvet", false, ""},
        {"<a href=\"\">Pivvet</a>", false, ""},
        // The first anchor that fits wins; earlier ones are stepped over.
        {"<a href=\"a\">Other</a> <a href=\"b\">Pivvet 2</a> <a href=\"c\">Pivvet</a>"
         "<a href=\"d\">Pivvet</a>",
         true, "c"},
    };
    for (const auto& c : cases) {
        std::string target;
        std::string text;
        EXPECT_EQ(FindUpdaterLink(c.page, target, text), c.found) << c.page;
        if (c.found) {
            EXPECT_EQ(target, c.target) << c.page;
            EXPECT_EQ(text, "Pivvet") << c.page;
        }
    }
}

TEST(UpdaterLink, EntitiesAreDecodedAfterTagsAreRemoved) {
    std::string target;
    std::string text;
    EXPECT_FALSE(FindUpdaterLink(
        "<a href=\"t\">&lt;b&gt;x&lt;/b&gt;&amp;lt; &quot;y&quot;&nbsp;<i>z</i></a>", target,
        text));
    EXPECT_EQ(target, "t");
    // Entities become characters once, after the tags are gone: the decoded "<b>" stays text.
    EXPECT_EQ(text, "<b>x</b>&lt; \"y\" z");
}

TEST(UpdaterLink, PageEndsAtItsFirstNul) {
    std::string page = "<p>";
    page += '\0';
    page += "<a href=\"p\">Pivvet</a>";
    std::string target;
    std::string text;
    EXPECT_FALSE(FindUpdaterLink(page, target, text));
}

TEST(UpdaterLink, DownloadAddressJoinsRelativeTargetsToThePagesFolder) {
    EXPECT_EQ(MakeDownloadAddress("http://h.example/dir/update.htm", "files/Pivvet"),
              "http://h.example/dir/files/Pivvet");
    EXPECT_EQ(MakeDownloadAddress("https://h.example/update/", "Pivvet"),
              "https://h.example/update/Pivvet");
    // Written as is, without decoding or normalising.
    EXPECT_EQ(MakeDownloadAddress("http://h/a/b.htm", "../x%20y/Pivvet?v=2"),
              "http://h/a/../x%20y/Pivvet?v=2");
    // A page address naming only the server has the root as its folder.
    EXPECT_EQ(MakeDownloadAddress("http://h.example", "files/Pivvet"),
              "http://h.example/files/Pivvet");
    // Targets that are addresses themselves point where they say.
    EXPECT_EQ(MakeDownloadAddress("http://h/dir/u.htm", "https://mirror.example/Pivvet"),
              "https://mirror.example/Pivvet");
    EXPECT_EQ(MakeDownloadAddress("https://h/dir/u.htm", "//mirror.example/Pivvet"),
              "https://mirror.example/Pivvet");
    EXPECT_EQ(MakeDownloadAddress("http://h:8080/dir/u.htm", "/files/Pivvet"),
              "http://h:8080/files/Pivvet");
}

}  // namespace

#include "shell/UpdaterLink.h"

#include <cctype>

#include "pattern/CMatch.h"

namespace tarvo {
namespace {

const char* const kLinkTag = "<[ \\t]*a[ \\t]+href[ \\t]*=[ \\t]*\"\\c[^\"]+\\c\"[ \\t]*>";
const char* const kLinkEnd = "</a>";
const char* const kTag = "\\c<[^>]+>\\c";
const char* const kUpdaterName = "^Pivvet$";

void compile(CMatch& match, const char* pattern, int noCase) {
    int consumed = 0;
    match.List().Compile(pattern, consumed, noCase);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

std::string cleanLinkText(std::string text) {
    std::erase(text, '\r');
    std::erase(text, '\n');
    CMatch tag(kTag);
    while (tag.Match(text.c_str(), 0)) {
        const int from = tag.List().GetMarkPos(1);
        const int to = tag.List().GetMarkPos(2);
        text.erase(from, to - from);
    }
    replaceAll(text, "&nbsp;", " ");
    replaceAll(text, "&lt;", "<");
    replaceAll(text, "&gt;", ">");
    replaceAll(text, "&quot;", "\"");
    replaceAll(text, "&amp;", "&");
    return text;
}

bool hasScheme(const std::string& address) {
    const size_t colon = address.find(':');
    if (colon == std::string::npos || colon == 0 ||
        !std::isalpha(static_cast<unsigned char>(address[0]))) {
        return false;
    }
    for (size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(address[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

}  // namespace

bool FindUpdaterLink(const std::string& page, std::string& target, std::string& text) {
    // The engine works on C texts: the page ends at its first NUL, as it does when fetched.
    const char* const body = page.c_str();
    CMatch link("x");
    CMatch end("x");
    CMatch name("x");
    compile(link, kLinkTag, 1);
    compile(end, kLinkEnd, 1);
    compile(name, kUpdaterName, 0);

    int position = 0;
    for (;;) {
        int tagEnd = 0;
        if (!link.Match(body, position, &tagEnd)) {
            return false;
        }
        target = link.GetText(1, 2, body);
        int linkEnd = 0;
        if (!end.Match(body, tagEnd, &linkEnd)) {
            return false;
        }
        const int textEnd = linkEnd - static_cast<int>(std::char_traits<char>::length(kLinkEnd));
        text = cleanLinkText(std::string(body + tagEnd, body + textEnd));
        if (name.Match(text.c_str(), 0)) {
            return true;
        }
        position = linkEnd;
    }
}

std::string MakeDownloadAddress(const std::string& pageAddress, const std::string& target) {
    const size_t schemeEnd = pageAddress.find("://");
    const size_t authority = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
    const size_t pathStart = pageAddress.find('/', authority);
    if (hasScheme(target)) {
        return target;
    }
    if (target.starts_with("//") && schemeEnd != std::string::npos) {
        return pageAddress.substr(0, schemeEnd + 1) + target;
    }
    if (pathStart == std::string::npos) {
        // An address that names only the server: its folder is the root.
        return pageAddress + "/" + (target.starts_with("/") ? target.substr(1) : target);
    }
    if (target.starts_with("/")) {
        return pageAddress.substr(0, pathStart) + target;
    }
    return pageAddress.substr(0, pageAddress.rfind('/') + 1) + target;
}

}  // namespace tarvo

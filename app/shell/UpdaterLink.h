#pragma once

#include <string>

namespace tarvo {

// Finds the updater's link in an update page: the first anchor written as
// <a href="target"> (blanks or tabs allowed around the parts, any case, nothing else in the tag)
// whose text, once line breaks, tags and the five common entities are taken out, is exactly
// "Pivvet". `target` receives the href value as written, `text` the cleaned anchor text of the
// last anchor looked at.
bool FindUpdaterLink(const std::string& page, std::string& target, std::string& text);

// Where a link target of the update page points: the page's address up to and including its last
// "/", followed by the target as written. A target that is itself an address (a scheme, "//host"
// or a path from the server's root) is resolved against the page's scheme and server instead.
std::string MakeDownloadAddress(const std::string& pageAddress, const std::string& target);

}  // namespace tarvo

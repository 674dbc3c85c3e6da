#pragma once

#include "pattern/CExpList.h"

namespace pattern_detail {

// One attempt of `list` at `position` of the NUL-terminated `text`: the position after the match,
// or -1. Records each object's span and, for groups, the alternative taken.
int matchList(CExpList& list, const unsigned char* text, int position);

}  // namespace pattern_detail

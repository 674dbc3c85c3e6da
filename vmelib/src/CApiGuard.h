#pragma once

#include "KOVRAVMElib.h"

namespace kovravme {

// Runs the body of a C export. The callers are C programs: an exception (an allocation that
// failed, a lock the system refused) must never unwind into them, where it would abort the
// process; it becomes GenericError instead.
template <typename Work>
ErrorCode guarded(Work&& work) noexcept {
    try {
        return work();
    } catch (...) {
        return GenericError;
    }
}

}  // namespace kovravme

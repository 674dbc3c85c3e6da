// Loads an arbitrary file as a sequence file. The file lives in memory (memfd) and is opened by
// path, as the sequence test opens the operator's file.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sequence/SequenceScript.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("sequence", 0);
    check(fd >= 0);
    check(ftruncate(fd, 0) == 0);
    check(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);

    std::vector<tarvo::_VISACMDLIST> sections;
    int lineNo = -1;
    const int result = tarvo::LoadSequenceFile(path, &lineNo, sections);
    check(lineNo >= 0 && static_cast<size_t>(lineNo) <= size);
    check(result == 0 || !sections.empty());
    for (const tarvo::_VISACMDLIST& section : sections) {
        check(!section.name.empty());
        check(section.taIndex >= 0 && section.taIndex <= 7);
        check(std::fabs(section.threshold) <= 2.5);
        check(section.rele >= -1 && section.rele <= 1);
        check(static_cast<int>(section.measure) >= 0 && static_cast<int>(section.measure) <= 7);
    }
    return 0;
}

#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CrateProcess.h"

namespace nimbra::bench {

// The virtual crate as a separate process on a temporary folder, RAM at 0x00100000.
class Crate {
  public:
    Crate();
    ~Crate();
    Crate(const Crate&) = delete;
    Crate& operator=(const Crate&) = delete;

    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    std::unique_ptr<vmecrate::CrateProcess> process_;
};

// One exchange on the bridge socket without the library: connect, send the request in a 'W'
// frame, read the reply with 'R' frames of at most 61440 bytes until a short one, close.
// Returns the reply bytes received.
size_t bareExchange(const std::string& dir, const std::vector<uint8_t>& request, size_t replyBytes,
                    std::vector<uint8_t>& reply);

double secondsSince(const struct timespec& start);
struct timespec now();

}  // namespace nimbra::bench

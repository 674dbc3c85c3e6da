#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace vmesim {

// How a data transfer reaches a slave: as a single cycle (read, write, read-modify-write) or as
// one item of a block transfer. A board may answer the two differently at the same address (an
// event port returns its status word to a single read and event data to a block read).
enum class Access { Single, Block };

// A module on the simulated VME bus. The bus serialises every call into its slaves under one bus
// lock, so a slave needs no locking of its own for calls made by the bus.
class VmeSlave {
  public:
    virtual ~VmeSlave() = default;

    // True when the slave answers at this address with this address modifier.
    virtual bool claims(uint32_t address, uint32_t am) const = 0;

    // One data transfer of `bytes` bytes (1, 2, 4 or 8) at `address`. The value is little-endian
    // in the low bytes of `value`. Returning false ends the cycle with a bus error.
    // Block transfers call these once per item, with the address stepped or kept as the
    // transfer asks (FIFO transfers keep it).
    virtual bool read(uint32_t address, uint32_t am, unsigned bytes, Access access,
                      uint64_t& value) = 0;
    virtual bool write(uint32_t address, uint32_t am, unsigned bytes, Access access,
                       uint64_t value) = 0;

    // Called once when the simulator exits: adds the slave's counters to the statistics that
    // --stats FILE writes as JSON.
    virtual void addStats(std::map<std::string, uint64_t>& counts) const { (void)counts; }
};

}  // namespace vmesim

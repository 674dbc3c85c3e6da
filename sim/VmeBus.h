#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "VmeSlave.h"

namespace vmesim {

// What one VME cycle looked like on the bus, for the bridge's display and location monitor.
struct BusCycle {
    enum class Kind { Read, Write, ReadModifyWrite, AddressOnly, InterruptAcknowledge };
    Kind kind = Kind::Read;
    uint32_t address = 0;
    uint32_t am = 0;
    unsigned bytes = 0;  // 0 for address-only cycles
    uint64_t data = 0;
    bool busError = false;
};

// The VME backplane: the slaves mapped on it, the interrupt lines and one bus lock that serialises
// every cycle of every master (all bridges share one bus).
class VmeBus {
  public:
    using Observer = std::function<void(const BusCycle&)>;

    void map(std::shared_ptr<VmeSlave> slave);

    // Single cycles. false means a bus error (no slave answered, or the slave refused).
    bool read(uint32_t address, uint32_t am, unsigned bytes, uint64_t& value);
    bool write(uint32_t address, uint32_t am, unsigned bytes, uint64_t value);
    // Reads the old value into `value` after writing the new one it held, without another master
    // getting the bus in between.
    bool readModifyWrite(uint32_t address, uint32_t am, unsigned bytes, uint64_t& value);
    // Address-only cycles carry no data strobe, so nothing answers them and they always end
    // normally; with handshake a slave must acknowledge, otherwise it is a bus error.
    bool addressOnly(uint32_t address, uint32_t am, bool handshake);

    // Block transfers of `items` items of `bytes` bytes, little-endian item by item in `data`.
    // The address steps by the item size unless `keepAddress`. Stops at the first item no slave
    // takes and returns the number of items moved.
    size_t blockRead(uint32_t address, uint32_t am, unsigned bytes, size_t items, bool keepAddress,
                     uint8_t* data);
    size_t blockWrite(uint32_t address, uint32_t am, unsigned bytes, size_t items, bool keepAddress,
                      const uint8_t* data);

    // Interrupt lines 1..7. Slaves may raise from any thread, also from inside a read or write.
    void raiseInterrupt(unsigned level, uint32_t vector);
    uint8_t pendingLevels() const;  // bit level-1 per pending level
    // The interrupt acknowledge cycle: the oldest vector of a pending level, which it clears.
    bool acknowledge(unsigned level, uint32_t& vector);

    // Called under the bus lock after every cycle; block transfers report their last item.
    // Returns an id for removeObserver.
    int addObserver(Observer observer);
    void removeObserver(int id);

    // SYSRESET: a bridge drives it when its control register's reset bit goes on. Slaves that
    // keep state register a handler; handlers run under the bus lock like every slave call.
    void addResetHandler(std::function<void()> handler);
    void systemReset();

    void addStats(std::map<std::string, uint64_t>& counts) const;

  private:
    VmeSlave* find(uint32_t address, uint32_t am) const;
    void notify(const BusCycle& cycle);
    // What both block directions share: the address walk, the slave look-up and the cycle
    // reported for the last item. `item(slave, address, index, value)` moves one item, with
    // slave null where nothing claims the address, and says whether it ended well.
    template <typename Item>
    size_t block(BusCycle::Kind kind, uint32_t address, uint32_t am, unsigned bytes, size_t items,
                 bool keepAddress, Item item);

    mutable std::mutex busLock_;
    std::vector<std::shared_ptr<VmeSlave>> slaves_;
    std::map<int, Observer> observers_;
    int nextObserver_ = 0;
    std::vector<std::function<void()>> resetHandlers_;
    uint64_t cycles_ = 0;
    uint64_t busErrors_ = 0;

    mutable std::mutex irqLock_;
    std::deque<uint32_t> pending_[8];  // index = level
    uint64_t interruptsRaised_ = 0;
};

}  // namespace vmesim

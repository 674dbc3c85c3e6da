#include "VmeBus.h"

#include <cstring>

namespace vmesim {

namespace {

uint64_t loadItem(const uint8_t* p, unsigned bytes) {
    uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i) {
        v |= uint64_t(p[i]) << (8 * i);
    }
    return v;
}

void storeItem(uint8_t* p, unsigned bytes, uint64_t v) {
    for (unsigned i = 0; i < bytes; ++i) {
        p[i] = uint8_t(v >> (8 * i));
    }
}

}  // namespace

void VmeBus::map(std::shared_ptr<VmeSlave> slave) {
    std::lock_guard lock(busLock_);
    slaves_.push_back(std::move(slave));
}

int VmeBus::addObserver(Observer observer) {
    std::lock_guard lock(busLock_);
    observers_.emplace(nextObserver_, std::move(observer));
    return nextObserver_++;
}

void VmeBus::removeObserver(int id) {
    std::lock_guard lock(busLock_);
    observers_.erase(id);
}

VmeSlave* VmeBus::find(uint32_t address, uint32_t am) const {
    for (const auto& slave : slaves_) {
        if (slave->claims(address, am)) {
            return slave.get();
        }
    }
    return nullptr;
}

void VmeBus::notify(const BusCycle& cycle) {
    ++cycles_;
    if (cycle.busError) {
        ++busErrors_;
    }
    for (const auto& [id, observer] : observers_) {
        observer(cycle);
    }
}

bool VmeBus::read(uint32_t address, uint32_t am, unsigned bytes, uint64_t& value) {
    std::lock_guard lock(busLock_);
    VmeSlave* slave = find(address, am);
    uint64_t v = 0;
    bool ok = slave && slave->read(address, am, bytes, Access::Single, v);
    value = ok ? v : 0;
    notify({BusCycle::Kind::Read, address, am, bytes, value, !ok});
    return ok;
}

bool VmeBus::write(uint32_t address, uint32_t am, unsigned bytes, uint64_t value) {
    std::lock_guard lock(busLock_);
    VmeSlave* slave = find(address, am);
    bool ok = slave && slave->write(address, am, bytes, Access::Single, value);
    notify({BusCycle::Kind::Write, address, am, bytes, value, !ok});
    return ok;
}

bool VmeBus::readModifyWrite(uint32_t address, uint32_t am, unsigned bytes, uint64_t& value) {
    std::lock_guard lock(busLock_);
    VmeSlave* slave = find(address, am);
    uint64_t old = 0;
    bool ok = slave && slave->read(address, am, bytes, Access::Single, old) &&
              slave->write(address, am, bytes, Access::Single, value);
    notify({BusCycle::Kind::ReadModifyWrite, address, am, bytes, value, !ok});
    value = ok ? old : 0;
    return ok;
}

bool VmeBus::addressOnly(uint32_t address, uint32_t am, bool handshake) {
    std::lock_guard lock(busLock_);
    bool ok = !handshake || find(address, am) != nullptr;
    notify({BusCycle::Kind::AddressOnly, address, am, 0, 0, !ok});
    return ok;
}

template <typename Item>
size_t VmeBus::block(BusCycle::Kind kind, uint32_t address, uint32_t am, unsigned bytes,
                     size_t items, bool keepAddress, Item item) {
    std::lock_guard lock(busLock_);
    VmeSlave* slave = nullptr;
    uint32_t a = address;
    uint64_t v = 0;
    size_t done = 0;
    for (; done < items; ++done) {
        if (!slave || !slave->claims(a, am)) {
            slave = find(a, am);
        }
        if (!item(slave, a, done, v)) {
            break;
        }
        if (!keepAddress) {
            a += bytes;
        }
    }
    if (items > 0) {
        uint32_t last = done < items ? a : (keepAddress ? a : a - bytes);
        notify({kind, last, am, bytes, v, done < items});
    }
    return done;
}

size_t VmeBus::blockRead(uint32_t address, uint32_t am, unsigned bytes, size_t items,
                         bool keepAddress, uint8_t* data) {
    return block(BusCycle::Kind::Read, address, am, bytes, items, keepAddress,
                 [&](VmeSlave* slave, uint32_t a, size_t index, uint64_t& v) {
                     v = 0;
                     if (!slave || !slave->read(a, am, bytes, Access::Block, v)) {
                         return false;
                     }
                     storeItem(data + index * bytes, bytes, v);
                     return true;
                 });
}

size_t VmeBus::blockWrite(uint32_t address, uint32_t am, unsigned bytes, size_t items,
                          bool keepAddress, const uint8_t* data) {
    return block(BusCycle::Kind::Write, address, am, bytes, items, keepAddress,
                 [&](VmeSlave* slave, uint32_t a, size_t index, uint64_t& v) {
                     v = loadItem(data + index * bytes, bytes);
                     return slave && slave->write(a, am, bytes, Access::Block, v);
                 });
}

void VmeBus::addResetHandler(std::function<void()> handler) {
    std::lock_guard lock(busLock_);
    resetHandlers_.push_back(std::move(handler));
}

void VmeBus::systemReset() {
    std::lock_guard lock(busLock_);
    for (const auto& handler : resetHandlers_) {
        handler();
    }
}

void VmeBus::raiseInterrupt(unsigned level, uint32_t vector) {
    if (level < 1 || level > 7) {
        return;
    }
    std::lock_guard lock(irqLock_);
    pending_[level].push_back(vector);
    ++interruptsRaised_;
}

uint8_t VmeBus::pendingLevels() const {
    std::lock_guard lock(irqLock_);
    uint8_t mask = 0;
    for (unsigned level = 1; level <= 7; ++level) {
        if (!pending_[level].empty()) {
            mask |= uint8_t(1u << (level - 1));
        }
    }
    return mask;
}

bool VmeBus::acknowledge(unsigned level, uint32_t& vector) {
    bool ok = false;
    vector = 0;
    {
        std::lock_guard lock(irqLock_);
        if (level >= 1 && level <= 7 && !pending_[level].empty()) {
            vector = pending_[level].front();
            pending_[level].pop_front();
            ok = true;
        }
    }
    std::lock_guard lock(busLock_);
    notify({BusCycle::Kind::InterruptAcknowledge, level * 2, 0, 0, vector, !ok});
    return ok;
}

void VmeBus::addStats(std::map<std::string, uint64_t>& counts) const {
    std::lock_guard lock(busLock_);
    counts["vme_cycles"] += cycles_;
    counts["vme_bus_errors"] += busErrors_;
    {
        std::lock_guard irq(irqLock_);
        counts["interrupts_raised"] += interruptsRaised_;
    }
    for (const auto& slave : slaves_) {
        slave->addStats(counts);
    }
}

}  // namespace vmesim

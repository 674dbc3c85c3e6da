#include "i2c/I2cBus.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "shell/Operator.h"

namespace tarvo {

namespace {

// Handles only tell an open bus from a closed one; a fresh number per opening keeps a stale
// copy from looking valid.
std::atomic<uint32_t> nextHandle{1};

std::vector<std::unique_ptr<I2cBackend>>& backendsOf(I2cBus& bus) {
    if (bus.backends.empty()) {
        bus.backends = defaultI2cBackends();
    }
    return bus.backends;
}

std::optional<std::string> adapterChoice(const I2cBus& bus) {
    if (bus.adapterChoice) {
        return bus.adapterChoice;
    }
    const char* env = std::getenv("TARVO_I2C_ADAPTER");
    if (env != nullptr && *env != '\0') {
        return std::string(env);
    }
    return std::nullopt;
}

std::string question(const AdapterEntry& entry) {
    char text[512];
    std::snprintf(text, sizeof(text), "Found %s LocationID=%d Channel=%s\nUse This for I2C Bus ?",
                  entry.name.c_str(), entry.locationId, entry.channel.c_str());
    return text;
}

struct Offered {
    I2cBackend* backend;
    AdapterEntry entry;
};

std::vector<Offered> offeredEntries(I2cBus& bus) {
    std::vector<Offered> offered;
    std::vector<AdapterEntry> entries;
    for (auto& backend : backendsOf(bus)) {
        entries.clear();
        backend->list(entries);
        for (auto& entry : entries) {
            offered.push_back({backend.get(), std::move(entry)});
        }
    }
    return offered;
}

}  // namespace

std::optional<std::string> i2cStatusText(int32_t status) {
    switch (status) {
        case kI2cSuccess:
            return "Success";
        case kI2cInvalidHandle:
            return "Invalid I2C adapter handle (the bus is not open)";
        case kI2cDeviceNotFound:
            return "I2C adapter not found";
        case kI2cDeviceOpenFailed:
            return "I2C adapter could not be opened";
        case kI2cIoError:
            return "I2C adapter input/output error";
        case kI2cAddressNack:
            return "No acknowledge from the chip's address";
        case kI2cDataNack:
            return "No acknowledge from the chip for a data byte";
        case kI2cTimeout:
            return "I2C acknowledge time-out";
        case kI2cInvalidClock:
            return "Invalid I2C clock frequency";
        case kI2cNotI2cAdapter:
            return "The device is not an I2C adapter";
        case kI2cBufferSize:
            return "Invalid I2C transfer size";
        case kI2cInvalidStatus:
            return "Invalid status code";
        case kI2cTooManyControlBytes:
            return "Too many control bytes (at most 256)";
        default:
            return std::nullopt;
    }
}

uint32_t clockDivisor(uint32_t requestedHz) {
    uint32_t divisor = 60000000u / (2u * requestedHz) - 1u;
    return divisor > 65535u ? 299u : divisor;
}

std::vector<AdapterEntry> listAdapters(I2cBus& bus) {
    std::vector<AdapterEntry> entries;
    for (auto& offered : offeredEntries(bus)) {
        entries.push_back(std::move(offered.entry));
    }
    return entries;
}

bool OpenBus(I2cBus& bus, uint32_t& clockHz, std::string* name, Operator& op) {
    if (clockHz == 0) {
        bus.status = kI2cInvalidClock;
        return false;
    }
    std::vector<Offered> entries = offeredEntries(bus);
    bus.status = kI2cSuccess;
    if (entries.empty()) {
        bus.status = kI2cDeviceNotFound;
        return false;
    }
    const Offered* chosen = nullptr;
    if (auto choice = adapterChoice(bus)) {
        for (const auto& offered : entries) {
            if (offered.entry.id == *choice || offered.entry.name == *choice) {
                chosen = &offered;
                break;
            }
        }
    } else {
        for (const auto& offered : entries) {
            if (op.askYesNo(question(offered.entry))) {
                chosen = &offered;
                break;
            }
        }
    }
    if (chosen == nullptr) {
        bus.status = kI2cDeviceNotFound;
        return false;
    }
    // Each backend turns the requested clock into its own setting and reports the clock obtained.
    bus.status = chosen->backend->open(chosen->entry, clockHz, bus.link);
    if (bus.status != kI2cSuccess) {
        bus.link.reset();
        return false;
    }
    bus.handle = nextHandle++;
    if (bus.handle == 0) {
        bus.handle = nextHandle++;
    }
    bus.entry = chosen->entry;
    if (name != nullptr) {
        *name = chosen->entry.name;
    }
    return true;
}

void CloseBus(I2cBus& bus) {
    if (bus.handle != 0) {
        bus.link.reset();
        bus.status = kI2cSuccess;
        bus.handle = 0;
    }
}

bool BusWrite(I2cBus& bus, const std::vector<uint8_t>& control, const std::vector<uint8_t>& data,
              bool stop) {
    if (control.size() > kMaxControlBytes) {
        bus.status = kI2cTooManyControlBytes;
        return false;
    }
    if (bus.handle == 0 || !bus.link) {
        bus.status = kI2cInvalidHandle;
        return false;
    }
    if (control.empty()) {
        bus.status = kI2cBufferSize;
        return false;
    }
    std::vector<uint8_t> message(control);
    message.insert(message.end(), data.begin(), data.end());
    bus.status = bus.link->write(message, stop);
    return bus.status == kI2cSuccess;
}

bool BusRead(I2cBus& bus, const std::vector<uint8_t>& control, std::vector<uint8_t>& buffer) {
    buffer.assign(2, 0);
    if (bus.handle == 0 || !bus.link) {
        bus.status = kI2cInvalidHandle;
        return false;
    }
    // The chips are read by their address byte alone; a command byte goes in a write before.
    if (control.size() != 1) {
        bus.status = kI2cBufferSize;
        return false;
    }
    bus.status = bus.link->read(control[0], buffer);
    return bus.status == kI2cSuccess;
}

void BusErrorText(I2cBus& bus, std::string& text) {
    if (auto known = i2cStatusText(bus.status)) {
        text = *known;
        bus.status = kI2cSuccess;
    } else {
        text = "Unknown I2C status " + std::to_string(bus.status);
        bus.status = kI2cInvalidStatus;
    }
}

}  // namespace tarvo

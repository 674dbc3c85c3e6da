#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "BridgeRegisters.h"
#include "SerialFlash.h"
#include "VmeBus.h"

namespace vmesim {

// One VME bridge, independent of how requests reach it (USB socket, optical link): takes one
// request of 16-bit little-endian words and returns the reply bytes, i.e. the data followed by
// the status word, or nothing at all for a request of register writes only.
class Bridge {
  public:
    static constexpr uint16_t kStatusBusError = 1u << 5;

    // `flashPath` persists the serial flash (empty: kept in memory only).
    explicit Bridge(VmeBus& bus, std::string flashPath = {});
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Runs one request. Returns nothing when the request cannot be decoded (truncated, unknown
    // operation, bytes after the last operation); the transport then drops the connection.
    std::optional<std::vector<uint8_t>> process(std::span<const uint8_t> request);

    void addStats(std::map<std::string, uint64_t>& counts) const;

  private:
    class Reader;
    struct Operation;

    bool runRegister(Reader& in, uint16_t command, std::vector<uint8_t>& out, bool& replies);
    bool runVme(Reader& in, uint16_t command, std::vector<uint8_t>& out, uint16_t& status,
                bool& stop);
    bool runSingle(Reader& in, const Operation& op, std::vector<uint8_t>& out, bool& busError);
    bool runBlock(Reader& in, const Operation& op, std::vector<uint8_t>& out, bool& busError);
    void show(BusCycle::Kind kind, uint32_t address, const Operation& op, uint64_t data,
              bool busError);
    void showBlock(BusCycle::Kind kind, uint32_t address, bool keep, const Operation& op,
                   const uint8_t* data, size_t done, bool busError);

    mutable std::mutex mutex_;
    VmeBus& bus_;
    SerialFlash flash_;
    BridgeRegisters registers_;
    int observer_ = -1;
    uint64_t requests_ = 0;
    uint64_t malformed_ = 0;
};

}  // namespace vmesim

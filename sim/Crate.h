#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Bridge.h"
#include "Options.h"
#include "TraceLog.h"
#include "UsbServer.h"
#include "VmeBus.h"
#include "bench/BenchState.h"
#include "card/BridgeStation.h"
#include "card/CardServer.h"
#include "card/LinkDevice.h"
#include "card/PciCard.h"
#include "i2c/I2cBench.h"
#include "i2c/I2cServer.h"

namespace vmesim {

// The whole virtual crate as the options describe it: the VME bus with its slaves, the USB
// bridge and the socket that reaches it. Runs inside vmecrate-sim or inside a test.
class Crate {
  public:
    explicit Crate(const Options& options);
    ~Crate();
    Crate(const Crate&) = delete;
    Crate& operator=(const Crate&) = delete;

    // Creates the sockets in the options' folder; throws std::runtime_error when it cannot.
    void start();
    void stop();

    VmeBus& bus() { return bus_; }
    Bridge& usbBridge() { return *usbBridge_; }
    TraceLog& trace() { return trace_; }
    BenchState& bench() { return bench_; }

    std::map<std::string, uint64_t> stats() const;
    // Writes stats() as one JSON object.
    void writeStats(const std::string& path) const;

  private:
    void mapSlaves(const Options& options);

    Options options_;
    BenchState bench_;
    VmeBus bus_;
    TraceLog trace_;
    std::unique_ptr<Bridge> usbBridge_;
    std::unique_ptr<UsbServer> usbServer_;

    // One optical link per card: its bridges (on the same VME bus) and its link device.
    struct OpticalLink {
        std::unique_ptr<PciCard> card;
        std::vector<std::unique_ptr<BridgeStation>> bridges;
        std::unique_ptr<LinkDevice> linkDevice;
        std::unique_ptr<CardServer> server;
    };
    void buildOpticalLinks(const Options& options);
    std::vector<OpticalLink> opticalLinks_;

    void buildI2c(const Options& options);
    std::unique_ptr<i2c::I2cBench> i2cBench_;
    std::unique_ptr<i2c::I2cServer> i2cServer_;
};

}  // namespace vmesim

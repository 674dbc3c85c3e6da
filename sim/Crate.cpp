#include "Crate.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "MemorySlave.h"
#include "board/ReadoutBoard.h"

namespace vmesim {

Crate::Crate(const Options& options) : options_(options), trace_(options.tracePath) {
    mapSlaves(options);
    for (unsigned level = 1; level <= 7; ++level) {
        if (options.irqLevels & (1u << (level - 1))) {
            bus_.raiseInterrupt(level, level);
        }
    }
    usbBridge_ = std::make_unique<Bridge>(bus_, options.flashPath);
    buildOpticalLinks(options);
    buildI2c(options);
}

void Crate::buildI2c(const Options& options) {
    if (!options.i2c) {
        return;
    }
    i2c::I2cBench::Settings settings;
    settings.temperatures = options.temperatures;
    settings.driftPerMinute = options.temperatureDriftPerMinute;
    for (const auto& nack : options.i2cNacks) {
        settings.nacks[nack.address] = nack.count;
    }
    i2cBench_ = std::make_unique<i2c::I2cBench>(
        settings,
        [this](int slot, double volts) {
            bench_.update([&](BenchState::Snapshot& s) { s.thresholdVolts[size_t(slot)] = volts; });
        },
        [this](const std::string& line) { trace_.text(line); });
}

void Crate::buildOpticalLinks(const Options& options) {
    for (uint32_t link = 0; link < options.opticalLinks; ++link) {
        OpticalLink optical;
        optical.card = std::make_unique<PciCard>(static_cast<int>(link));
        for (uint32_t board = 0; board < options.opticalBoards; ++board) {
            optical.bridges.push_back(std::make_unique<BridgeStation>(bus_));
            optical.card->attachBridge(static_cast<uint8_t>(board), optical.bridges.back().get());
        }
        optical.linkDevice = std::make_unique<LinkDevice>();
        optical.card->attachLinkDevice(optical.linkDevice.get());
        if (options.dropCount > 0) {
            optical.card->dropReplies(options.dropFirst, options.dropCount);
        }
        if (trace_.enabled()) {
            optical.card->setTrace(
                [this](const std::vector<uint8_t>& request, const std::vector<uint8_t>& reply) {
                    trace_.exchange(request, reply);
                });
        }
        opticalLinks_.push_back(std::move(optical));
    }
}

Crate::~Crate() {
    stop();
}

// Every slave the options ask for is mapped here.
void Crate::mapSlaves(const Options& options) {
    for (const auto& region : options.memories) {
        bus_.map(std::make_shared<MemorySlave>(region.address, region.size));
    }
    if (options.board) {
        auto readoutBoard = std::make_shared<board::ReadoutBoard>(options.boardOptions);
        bus_.map(readoutBoard);
        bus_.addResetHandler([readoutBoard] { readoutBoard->systemReset(); });
    }
}

void Crate::start() {
    std::error_code error;
    std::filesystem::create_directories(options_.dir, error);
    UsbServer::Settings settings;
    settings.socketPath = (std::filesystem::path(options_.dir) / "ezusb-0").string();
    settings.delay = std::chrono::microseconds(options_.delayUs);
    settings.idleLimit = std::chrono::milliseconds(options_.idleTimeoutMs);
    usbServer_ = std::make_unique<UsbServer>(*usbBridge_, trace_, settings);
    usbServer_->start();
    if (i2cBench_) {
        i2cServer_ = std::make_unique<i2c::I2cServer>(
            *i2cBench_, (std::filesystem::path(options_.dir) / "i2c-0").string());
        i2cServer_->start();
    }
    for (auto& optical : opticalLinks_) {
        auto path = std::filesystem::path(options_.dir) /
                    ("pci9054-" + std::to_string(optical.card->link()));
        optical.server = std::make_unique<CardServer>(
            *optical.card, path.string(), std::chrono::milliseconds(options_.idleTimeoutMs));
        if (!optical.server->start()) {
            throw std::runtime_error("cannot serve " + path.string());
        }
    }
}

void Crate::stop() {
    if (i2cServer_) {
        i2cServer_->stop();
    }
    if (usbServer_) {
        usbServer_->stop();
    }
    for (auto& optical : opticalLinks_) {
        if (optical.server) {
            optical.server->stop();
        }
    }
}

std::map<std::string, uint64_t> Crate::stats() const {
    std::map<std::string, uint64_t> counts{{"exchanges", 0}, {"overlapping_exchanges", 0}};
    if (usbServer_) {
        usbServer_->addStats(counts);
    }
    usbBridge_->addStats(counts);
    bus_.addStats(counts);
    for (const auto& optical : opticalLinks_) {
        if (optical.server) {
            counts["card_accept_pauses"] += optical.server->acceptPauses();
            counts["card_idle_connections_closed"] += optical.server->idleClosed();
        }
    }
    return counts;
}

void Crate::writeStats(const std::string& path) const {
    nlohmann::json json(stats());
    std::ofstream out(path);
    out << json.dump(2) << '\n';
    if (!out) {
        throw std::runtime_error("cannot write statistics to " + path);
    }
}

}  // namespace vmesim

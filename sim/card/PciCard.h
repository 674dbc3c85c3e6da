#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "SerialFlash.h"
#include "card/LinkStation.h"

namespace vmesim {

// The PCI optical-link card as the library's SDK calls see it (docs/virtual-crate-card.md):
// local registers, the transmit port that assembles requests for the link, reply packets in the
// receive FIFO, DMA out of it, the local interrupt with its notifications, and the stations on
// the link (bridges by board number, and the link device while register 8 bit 2 is set).
//
// Several processes may open one card. Each opening ("opener") has its own transmit assembly,
// receive FIFO, interrupt enable and notifications, so that processes sharing a card never see
// each other's replies; registers, flash and interrupt control are the card's, shared by all.
class PciCard {
  public:
    using Status = uint32_t;
    static constexpr Status kSuccess = 512;
    static constexpr Status kFailed = 513;
    static constexpr Status kChannelUnavailable = 515;
    static constexpr Status kInvalidHandle = 516;
    static constexpr Status kWaitTimeout = 579;
    static constexpr Status kWaitCanceled = 580;

    static constexpr uint16_t kDeviceId = 0x9054;
    static constexpr uint16_t kVendorId = 0x10B5;
    static constexpr uint16_t kSubsystemId = 0x3057;
    static constexpr uint8_t kBus = 2;
    static constexpr uint32_t kFirmwareRelease = 0x0103;
    static constexpr uint32_t kLocalInterrupt = 0x00800000;
    static constexpr size_t kPacketItems = 256;
    static constexpr size_t kFifoWords = 32768;

    // One line per request the card moved over the link: request bytes and reply bytes.
    using TraceSink =
        std::function<void(const std::vector<uint8_t>& request, const std::vector<uint8_t>& reply)>;

    explicit PciCard(int link);
    ~PciCard();

    void attachBridge(uint8_t board, LinkStation* station);
    void attachLinkDevice(LinkStation* station);
    void setTrace(TraceSink sink) { trace_ = std::move(sink); }

    int link() const { return link_; }
    uint8_t slot() const { return static_cast<uint8_t>(link_); }
    std::string serial() const { return "Pci9054-" + std::to_string(link_); }
    Status configRead(uint16_t offset, uint32_t& value) const;

    uint32_t open();
    void close(uint32_t opener);
    // Ends every wait with the cancel code; used when the crate shuts down.
    void shutdown();

    Status iopWrite(uint32_t opener, uint32_t space, uint32_t address, uint32_t value);
    Status iopRead(uint32_t opener, uint32_t space, uint32_t address, uint32_t& value);
    Status dmaOpen(uint32_t opener, uint32_t channel);
    Status dmaTransfer(uint32_t opener, uint32_t channel, uint32_t localAddress, uint32_t bytes,
                       std::vector<uint8_t>& out);
    Status registerNotification(uint32_t opener, uint32_t sources);
    Status cancelNotification(uint32_t opener);
    Status waitNotification(uint32_t opener, uint32_t timeoutMs);
    Status enableInterrupts(uint32_t opener, uint32_t sources);
    Status interruptStatus(uint32_t opener, uint32_t& sources);

    // Knobs: the replies of the next `count` requests that have one are lost on the link; or
    // those of requests number first..first+count-1 (counted from 1 over the card's life).
    void dropNextReplies(uint32_t count);
    // Knob: the replies of the next `count` requests that have one arrive `ms` late.
    void delayNextReplies(uint32_t count, uint32_t ms);
    void dropReplies(uint64_t first, uint32_t count);
    bool raiseInterrupt(uint8_t board, uint8_t level);

  private:
    struct Opener {
        std::vector<uint32_t> transmit;
        size_t transmitWords = 0;  // words still expected for the request being assembled
        uint16_t transmitItems = 0;
        uint8_t transmitBoard = 0;
        bool transmitToLinkDevice = false;
        bool transmitting = false;
        std::deque<std::vector<uint32_t>> packets;
        size_t frontOffset = 0;  // words of the front packet already moved by DMA
        bool notifyRegistered = false;
        bool interruptEnabled = false;
        uint32_t latched = 0;
        uint64_t fired = 0;
        uint64_t cancelled = 0;
    };

    Opener* find(uint32_t opener);
    // Applies `change` to an opener's interrupt settings under the lock and wakes the waiters.
    template <typename Change>
    Status changeOpener(uint32_t opener, Change change);
    void writeTransmitPort(std::unique_lock<std::mutex>& lock, uint32_t openerId, Opener& o,
                           uint32_t value);
    void deliver(std::unique_lock<std::mutex>& lock, uint32_t openerId, uint8_t board,
                 bool toLinkDevice, std::vector<uint8_t> request);
    void queueReply(Opener& o, uint8_t board, const std::vector<uint8_t>& reply);
    void releaseLateReplies();
    size_t wordsWaiting(const Opener& o) const;
    uint32_t pendingLevels(unsigned firstBoard);
    bool lineAsserted(Opener& o);
    uint32_t readRegister(uint32_t address);
    void writeRegister(Opener& o, uint32_t address, uint32_t value);

    const int link_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<uint32_t, Opener> openers_;
    uint32_t nextOpener_ = 1;
    std::map<uint8_t, LinkStation*> bridges_;
    LinkStation* linkDevice_ = nullptr;
    std::map<uint32_t, uint32_t> registers_;
    uint32_t interruptControl_ = 0;
    SerialFlash flash_;
    std::map<uint32_t, uint32_t> dmaChannels_;  // channel -> opener that opened it
    uint64_t repliesSeen_ = 0;
    uint64_t dropFirst_ = 0;
    uint64_t dropEnd_ = 0;
    struct LateReply {
        std::chrono::steady_clock::time_point due;
        uint32_t opener;
        uint8_t board;
        std::vector<uint8_t> reply;
    };
    std::vector<LateReply> late_;
    uint32_t delayCount_ = 0;
    uint32_t delayMs_ = 0;
    bool stopping_ = false;
    TraceSink trace_;
};

}  // namespace vmesim

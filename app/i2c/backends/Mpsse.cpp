#include "i2c/backends/Mpsse.h"

#include "i2c/I2cBus.h"

namespace tarvo::mpsse {

namespace {

// MPSSE opcodes.
constexpr uint8_t kSetLowBits = 0x80;       // value, direction of ADBUS0..7
constexpr uint8_t kBytesOutFalling = 0x11;  // length-1 (16 bits), then the bytes, MSB first
constexpr uint8_t kBitsOutFalling = 0x13;   // length-1 (3 bits), then the byte
constexpr uint8_t kBytesInRising = 0x20;    // length-1 (16 bits), MSB first
constexpr uint8_t kBitsInRising = 0x22;     // length-1 (3 bits)
constexpr uint8_t kSendImmediate = 0x87;
constexpr uint8_t kDisableDivideBy5 = 0x8A;
constexpr uint8_t kDisableAdaptive = 0x97;
constexpr uint8_t kEnableThreePhase = 0x8C;
constexpr uint8_t kLoopbackOff = 0x85;
constexpr uint8_t kSetDivisor = 0x86;

constexpr uint8_t kScl = 0x01;
constexpr uint8_t kSda = 0x02;
constexpr uint8_t kBothOut = kScl | kSda;
constexpr uint8_t kSclOut = kScl;

// Each line change is repeated so that it holds for at least the bus's set-up and hold times
// (one command lasts about 200 ns at the engine's pace).
constexpr int kHold = 4;

void setLines(std::vector<uint8_t>& out, uint8_t value, uint8_t direction, int times = 1) {
    for (int i = 0; i < times; ++i) {
        out.insert(out.end(), {kSetLowBits, value, direction});
    }
}

}  // namespace

uint16_t divisorFor(uint32_t hz, uint32_t& obtainedHz) {
    constexpr uint32_t kThreePhaseBase = 20000000;  // 60 MHz / 2 clock edges * 2/3 phases
    uint32_t divisor = hz == 0 ? 0xFFFF : (kThreePhaseBase + hz - 1) / hz - 1;
    if (divisor > 0xFFFF) {
        divisor = 0xFFFF;
    }
    obtainedHz = kThreePhaseBase / (divisor + 1);
    return uint16_t(divisor);
}

std::vector<uint8_t> setupCommands(uint16_t divisor) {
    std::vector<uint8_t> out{kDisableDivideBy5,    kDisableAdaptive, kEnableThreePhase,
                             kLoopbackOff,         kSetDivisor,      uint8_t(divisor),
                             uint8_t(divisor >> 8)};
    setLines(out, kScl | kSda, kBothOut);
    return out;
}

std::vector<uint8_t> startCondition() {
    std::vector<uint8_t> out;
    setLines(out, kScl | kSda, kBothOut, kHold);
    setLines(out, kScl, kBothOut, kHold);  // SDA falls while SCL is high
    setLines(out, 0, kBothOut);
    return out;
}

std::vector<uint8_t> stopCondition() {
    std::vector<uint8_t> out;
    setLines(out, 0, kBothOut, kHold);
    setLines(out, kScl, kBothOut, kHold);
    setLines(out, kScl | kSda, kBothOut, kHold);  // SDA rises while SCL is high
    setLines(out, kScl | kSda, 0);                // let the pull-ups hold the idle bus
    return out;
}

std::vector<uint8_t> writeByte(uint8_t value) {
    std::vector<uint8_t> out{kBytesOutFalling, 0x00, 0x00, value};
    setLines(out, 0, kSclOut);  // release SDA for the chip's acknowledge
    out.insert(out.end(), {kBitsInRising, 0x00});
    setLines(out, kSda, kBothOut);
    out.push_back(kSendImmediate);
    return out;
}

std::vector<uint8_t> readByte(bool last) {
    std::vector<uint8_t> out;
    setLines(out, 0, kSclOut);
    out.insert(out.end(), {kBytesInRising, 0x00, 0x00});
    setLines(out, 0, kBothOut);
    out.insert(out.end(), {kBitsOutFalling, 0x00, uint8_t(last ? 0xFF : 0x00)});
    setLines(out, kSda, kBothOut);
    out.push_back(kSendImmediate);
    return out;
}

int32_t MpsseLink::exchange(const std::vector<uint8_t>& commands, std::span<uint8_t> reply) {
    if (!transport_->send(commands)) {
        return kI2cIoError;
    }
    if (!reply.empty() && !transport_->receive(reply, kAckTimeoutMs)) {
        return kI2cTimeout;
    }
    return kI2cSuccess;
}

int32_t MpsseLink::abort(int32_t status) {
    if (status != kI2cIoError) {
        transport_->send(stopCondition());
    }
    return status;
}

int32_t MpsseLink::sendAddress(uint8_t addressByte) {
    std::vector<uint8_t> commands = startCondition();
    std::vector<uint8_t> byte = writeByte(addressByte);
    commands.insert(commands.end(), byte.begin(), byte.end());
    uint8_t ack = 0;
    if (int32_t status = exchange(commands, {&ack, 1}); status != kI2cSuccess) {
        return abort(status);
    }
    return (ack & 0x01) ? abort(kI2cAddressNack) : kI2cSuccess;
}

int32_t MpsseLink::write(std::span<const uint8_t> bytes, bool stop) {
    if (bytes.empty()) {
        return kI2cBufferSize;
    }
    if (int32_t status = sendAddress(bytes[0]); status != kI2cSuccess) {
        return status;
    }
    for (size_t i = 1; i < bytes.size(); ++i) {
        uint8_t ack = 0;
        if (int32_t status = exchange(writeByte(bytes[i]), {&ack, 1}); status != kI2cSuccess) {
            return abort(status);
        }
        if (ack & 0x01) {
            return abort(kI2cDataNack);
        }
    }
    if (stop && !transport_->send(stopCondition())) {
        return kI2cIoError;
    }
    return kI2cSuccess;
}

int32_t MpsseLink::read(uint8_t addressByte, std::span<uint8_t> buffer) {
    if (int32_t status = sendAddress(addressByte); status != kI2cSuccess) {
        return status;
    }
    std::vector<uint8_t> commands;
    for (size_t i = 0; i < buffer.size(); ++i) {
        std::vector<uint8_t> byte = readByte(i + 1 == buffer.size());
        commands.insert(commands.end(), byte.begin(), byte.end());
    }
    std::vector<uint8_t> stop = stopCondition();
    commands.insert(commands.end(), stop.begin(), stop.end());
    return exchange(commands, buffer);
}

}  // namespace tarvo::mpsse

#pragma once

// One connection to the virtual crate's card socket, and the byte framing of its messages
// (little-endian fields, docs/virtual-crate-card.md).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plx {

class Message {
  public:
    explicit Message(char opcode) { bytes_.push_back(static_cast<uint8_t>(opcode)); }
    Message& u8(uint8_t v);
    Message& u16(uint16_t v);
    Message& u32(uint32_t v);
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

class PlxChannel {
  public:
    PlxChannel() = default;
    ~PlxChannel();
    PlxChannel(const PlxChannel&) = delete;
    PlxChannel& operator=(const PlxChannel&) = delete;

    // Connects with the socket time limit on every later step; `extraMs` widens the receive limit
    // for a call that the card itself holds for up to that long (a notification wait).
    bool connect(const std::string& path, uint32_t extraMs = 0);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    bool send(const Message& message);
    bool receive(void* data, size_t size);
    bool receiveU8(uint8_t& v) { return receive(&v, 1); }
    bool receiveU16(uint16_t& v);
    bool receiveU32(uint32_t& v);

  private:
    int fd_ = -1;
};

// The socket of the card with this link number, or "" when no virtual crate is configured.
std::string cardSocketPath(int link);
// Every card socket in the virtual crate's folder, ordered by link number.
std::vector<std::string> cardSocketPaths();

}  // namespace plx

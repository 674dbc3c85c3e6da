#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vmesim::test {

using Bytes = std::vector<uint8_t>;

// Bytes written out by hand, e.g. bytes({0xA1, 0x89}).
Bytes bytes(std::initializer_list<int> values);
std::string hex(const Bytes& data);

// One opening of the simulated USB device, speaking the socket framing directly.
class UsbClient {
  public:
    explicit UsbClient(const std::string& socketPath);  // throws when it cannot connect
    ~UsbClient();
    UsbClient(const UsbClient&) = delete;
    UsbClient& operator=(const UsbClient&) = delete;

    void bulkWrite(const Bytes& request, uint8_t pipe = 0);
    Bytes bulkRead(uint32_t maximum, uint8_t pipe = 2);
    // Bulk write, then bulk reads until a short one, as the library reads a reply.
    Bytes exchange(const Bytes& request);
    // Sends raw bytes; true when the peer has closed the connection afterwards.
    void sendRaw(const Bytes& data);
    bool peerClosed();
    void close();

  private:
    int fd_ = -1;
};

}  // namespace vmesim::test

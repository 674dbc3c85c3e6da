#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "instruments/Instrument.h"
#include "instruments/ResourceName.h"

namespace tarvo {

// An instrument behind a file descriptor: a TCP socket, a serial port or a usbtmc device file.
// Writes wait at most the time-out for the descriptor to take more bytes.
class FdInstrument : public Instrument {
  public:
    FdInstrument(int fd, bool socket, std::chrono::milliseconds timeout);
    ~FdInstrument() override;
    FdInstrument(const FdInstrument&) = delete;
    FdInstrument& operator=(const FdInstrument&) = delete;

    bool write(const std::string& text, std::string& error) override;

  private:
    int fd_;
    bool socket_;
    std::chrono::milliseconds timeout_;
};

// The built-in ways to reach an instrument. Each returns nullptr with the reason.
std::unique_ptr<Instrument> connectSocket(const SocketResource& resource,
                                          std::chrono::milliseconds timeout, std::string& error);
std::unique_ptr<Instrument> openSerial(const SerialResource& resource, std::string& error);
std::unique_ptr<Instrument> openDeviceFile(const std::string& path, std::string& error);

}  // namespace tarvo

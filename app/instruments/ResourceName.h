#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tarvo {

// TCPIP[board]::host::port::SOCKET: raw SCPI over TCP.
struct SocketResource {
    std::string host;
    uint16_t port = 0;
};

// ASRL<device>[,baud[,<bits><parity><stop>]]::INSTR, the device being a port number n
// (/dev/ttyS<n-1>), a path, or a name under /dev. Without settings: 9600 baud, 8N1.
struct SerialResource {
    std::string device;  // a path
    unsigned baud = 9600;
    unsigned dataBits = 8;
    char parity = 'N';  // 'N', 'E' or 'O'
    unsigned stopBits = 1;
};

// USB[board]::vendor::product[::serial[::interface]]::INSTR through a usbtmc device file, or
// USB[board]::/dev/usbtmcN::INSTR naming the file itself.
struct UsbtmcResource {
    std::string devicePath;  // set when the name gives the file
    uint16_t vendor = 0;
    uint16_t product = 0;
    std::string serial;  // empty: any
};

using ResourceAddress = std::variant<SocketResource, SerialResource, UsbtmcResource>;

// The address a resource name stands for, or nothing with the reason in `error`.
std::optional<ResourceAddress> parseResourceName(const std::string& name, std::string& error);

// The resource name the search lists for a device file: "ASRL/dev/ttyUSB0::INSTR".
std::string serialResourceName(const std::string& devicePath);

}  // namespace tarvo

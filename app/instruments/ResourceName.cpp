#include "instruments/ResourceName.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace tarvo {
namespace {

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::vector<std::string> splitFields(const std::string& name) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t sep = name.find("::", start);
        fields.push_back(name.substr(start, sep - start));
        if (sep == std::string::npos) {
            return fields;
        }
        start = sep + 2;
    }
}

// A whole text as an unsigned number in base 0 (decimal, 0x hexadecimal), within `max`.
std::optional<unsigned long> number(const std::string& text, unsigned long max) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > max) {
        return std::nullopt;
    }
    return value;
}

// The prefix followed by an optional board number: "TCPIP", "TCPIP0".
bool hasBoardPrefix(const std::string& field, const std::string& prefix) {
    if (upper(field.substr(0, prefix.size())) != prefix) {
        return false;
    }
    std::string rest = field.substr(prefix.size());
    return std::all_of(rest.begin(), rest.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::optional<ResourceAddress> parseSocket(const std::vector<std::string>& f, std::string& error) {
    if (f.size() != 4 || upper(f[3]) != "SOCKET" || f[1].empty()) {
        error = "a socket resource is TCPIP[n]::host::port::SOCKET";
        return std::nullopt;
    }
    auto port = number(f[2], 65535);
    if (!port || *port == 0) {
        error = "bad port \"" + f[2] + "\"";
        return std::nullopt;
    }
    return SocketResource{f[1], static_cast<uint16_t>(*port)};
}

// "9600", then optionally ",8N1".
bool parseSerialSettings(const std::string& text, SerialResource& r) {
    size_t comma = text.find(',');
    auto baud = number(text.substr(0, comma), 4000000);
    if (!baud || *baud == 0) {
        return false;
    }
    r.baud = static_cast<unsigned>(*baud);
    if (comma == std::string::npos) {
        return true;
    }
    std::string frame = upper(text.substr(comma + 1));
    if (frame.size() != 3 || frame[0] < '5' || frame[0] > '8' ||
        std::string("NEO").find(frame[1]) == std::string::npos ||
        (frame[2] != '1' && frame[2] != '2')) {
        return false;
    }
    r.dataBits = static_cast<unsigned>(frame[0] - '0');
    r.parity = frame[1];
    r.stopBits = static_cast<unsigned>(frame[2] - '0');
    return true;
}

std::optional<ResourceAddress> parseSerial(const std::vector<std::string>& f, std::string& error) {
    if (f.size() > 2 || (f.size() == 2 && upper(f[1]) != "INSTR")) {
        error = "a serial resource is ASRL<device>::INSTR";
        return std::nullopt;
    }
    std::string spec = f[0].substr(4);
    SerialResource r;
    std::string device = spec;
    if (size_t comma = spec.find(','); comma != std::string::npos) {
        device = spec.substr(0, comma);
        if (!parseSerialSettings(spec.substr(comma + 1), r)) {
            error = "bad serial settings \"" + spec.substr(comma + 1) + "\" (baud[,8N1])";
            return std::nullopt;
        }
    }
    if (device.empty()) {
        error = "no serial device in the name";
        return std::nullopt;
    }
    if (auto port = number(device, 256)) {
        if (*port == 0) {
            error = "serial ports count from 1";
            return std::nullopt;
        }
        r.device = "/dev/ttyS" + std::to_string(*port - 1);
    } else if (device[0] == '/') {
        r.device = device;
    } else {
        r.device = "/dev/" + device;
    }
    return r;
}

std::optional<ResourceAddress> parseUsb(const std::vector<std::string>& f, std::string& error) {
    if (upper(f.back()) != "INSTR" || f.size() < 3) {
        error = "a USB resource is USB[n]::vendor::product[::serial]::INSTR";
        return std::nullopt;
    }
    UsbtmcResource r;
    if (f.size() == 3 && !f[1].empty() && f[1][0] == '/') {
        r.devicePath = f[1];
        return r;
    }
    auto vendor = f.size() >= 4 ? number(f[1], 0xFFFF) : std::nullopt;
    auto product = f.size() >= 4 ? number(f[2], 0xFFFF) : std::nullopt;
    if (!vendor || !product || f.size() > 6) {
        error = "a USB resource is USB[n]::vendor::product[::serial]::INSTR";
        return std::nullopt;
    }
    r.vendor = static_cast<uint16_t>(*vendor);
    r.product = static_cast<uint16_t>(*product);
    if (f.size() >= 5) {
        r.serial = f[3];
    }
    return r;
}

}  // namespace

std::optional<ResourceAddress> parseResourceName(const std::string& name, std::string& error) {
    std::vector<std::string> f = splitFields(name);
    if (hasBoardPrefix(f[0], "TCPIP")) {
        return parseSocket(f, error);
    }
    if (upper(f[0].substr(0, 4)) == "ASRL") {
        return parseSerial(f, error);
    }
    if (hasBoardPrefix(f[0], "USB")) {
        return parseUsb(f, error);
    }
    error = "unknown kind of resource (TCPIP, ASRL and USB are known)";
    return std::nullopt;
}

std::string serialResourceName(const std::string& devicePath) {
    return "ASRL" + devicePath + "::INSTR";
}

}  // namespace tarvo

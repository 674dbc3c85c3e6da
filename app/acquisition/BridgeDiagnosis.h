#pragma once

#include <cstdint>
#include <string>

namespace tarvo {

// Why KOVRAVME_Init could not open a bridge, in words for the person at the bench: looks at what
// the library needs (the virtual crate's socket, the bridge lock file, the USB device) and names
// the first thing missing, else the library's own result.
struct BridgeDiagnosisInputs {
    int32_t bridgeKind = 0;
    int link = 0;
    int boardNumber = 0;
    int32_t result = 0;            // what KOVRAVME_Init returned
    const char* simDir = nullptr;  // KOVRAVME_SIM_DIR, or nullptr when not set
    std::string lockPath;          // the bridge library's lock file for the kind and link
    std::string usbDevices;        // where attached USB devices are listed (sysfs)
    uint16_t vendorId = 0;         // the USB ids the library looks for
    uint16_t productId = 0;
};

std::string diagnoseBridgeFailure(const BridgeDiagnosisInputs& in);

// The inputs of this process: its environment, /tmp, /sys/bus/usb/devices.
BridgeDiagnosisInputs bridgeDiagnosisInputs(int32_t bridgeKind, int link, int boardNumber,
                                            int32_t result);

}  // namespace tarvo

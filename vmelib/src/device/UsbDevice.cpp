#include "device/UsbDevice.h"

#include <cstdlib>

#include "device/LibusbDevice.h"
#include "device/SimUsbDevice.h"

namespace kovravme {

std::unique_ptr<UsbDevice> openUsbDevice(int boardNumber) {
    if (const char* simDir = std::getenv("KOVRAVME_SIM_DIR"); simDir != nullptr) {
        return SimUsbDevice::open(simDir, boardNumber);
    }
    return LibusbDevice::open(boardNumber);
}

}  // namespace kovravme

#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "instruments/Instrument.h"

namespace tarvo {

// A usbtmc device file and the ids of the instrument behind it.
struct UsbtmcDevice {
    std::string path;  // /dev/usbtmcN
    uint16_t vendor = 0;
    uint16_t product = 0;
    std::string serial;
    bool idsKnown = false;  // false when the kernel's device folder could not be read
};

// Where the built-in manager looks for devices; tests point it at folders of their own.
struct DeviceFolders {
    std::string dev = "/dev";
    std::string usbmisc = "/sys/class/usbmisc";  // the kernel's usbtmc entries
};

// The usbtmc device files, with the instrument ids read from the kernel's device folders.
std::vector<UsbtmcDevice> findUsbtmcDevices(const DeviceFolders& folders);

// The resource name the search lists for a usbtmc device: "USB0::0x0957::0x0407::MY44::INSTR",
// or "USB0::/dev/usbtmc0::INSTR" when the ids are unknown.
std::string usbtmcResourceName(const UsbtmcDevice& device);

// The built-in resource manager: raw sockets, serial ports through termios and USB instruments
// through the usbtmc driver. The search lists the usbtmc, ttyUSB and ttyACM device files and the
// extra names given (the virtual crate's generator, TARVO_VISA_RESOURCES).
class BuiltinResourceManager : public ResourceManager {
  public:
    explicit BuiltinResourceManager(std::vector<std::string> extraNames = {},
                                    DeviceFolders folders = {});

    std::vector<std::string> findResources(const std::string& expression) override;
    std::unique_ptr<Instrument> open(const std::string& resource, std::string& error) override;

    static constexpr std::chrono::milliseconds kConnectTimeout{2000};

  private:
    std::vector<std::string> extraNames_;
    DeviceFolders folders_;
};

}  // namespace tarvo

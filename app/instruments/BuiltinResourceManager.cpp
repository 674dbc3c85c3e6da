#include "instruments/BuiltinResourceManager.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "instruments/FdInstrument.h"
#include "instruments/ResourceName.h"
#include "instruments/VisaExpression.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The device files of a folder whose names start with the prefix, in name order.
std::vector<std::string> deviceFiles(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) == 0) {
            paths.push_back(it->path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::optional<uint16_t> hexId(const std::string& text) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (text.empty() || *end != '\0' || value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

}  // namespace

std::vector<UsbtmcDevice> findUsbtmcDevices(const DeviceFolders& folders) {
    std::vector<UsbtmcDevice> devices;
    for (const std::string& path : deviceFiles(folders.dev, "usbtmc")) {
        UsbtmcDevice device;
        device.path = path;
        // The class entry's "device" is the USB interface; its parent holds the device's ids.
        const fs::path usb =
            fs::path(folders.usbmisc) / fs::path(path).filename() / "device" / "..";
        const std::string vendor = firstLine(usb / "idVendor");
        const std::string product = firstLine(usb / "idProduct");
        auto vendorId = hexId(vendor);
        auto productId = hexId(product);
        if (vendorId && productId) {
            device.vendor = *vendorId;
            device.product = *productId;
            device.serial = firstLine(usb / "serial");
            device.idsKnown = true;
        }
        devices.push_back(device);
    }
    return devices;
}

std::string usbtmcResourceName(const UsbtmcDevice& device) {
    if (!device.idsKnown) {
        return "USB0::" + device.path + "::INSTR";
    }
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB0::0x%04X::0x%04X::", device.vendor, device.product);
    return ids + (device.serial.empty() ? std::string() : device.serial + "::") + "INSTR";
}

BuiltinResourceManager::BuiltinResourceManager(std::vector<std::string> extraNames,
                                               DeviceFolders folders)
    : extraNames_(std::move(extraNames)), folders_(std::move(folders)) {}

std::vector<std::string> BuiltinResourceManager::findResources(const std::string& expression) {
    std::vector<std::string> names;
    for (const UsbtmcDevice& device : findUsbtmcDevices(folders_)) {
        names.push_back(usbtmcResourceName(device));
    }
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        for (const std::string& path : deviceFiles(folders_.dev, prefix)) {
            names.push_back(serialResourceName(path));
        }
    }
    names.insert(names.end(), extraNames_.begin(), extraNames_.end());
    std::vector<std::string> matching;
    for (const std::string& name : names) {
        if (matchesVisaExpression(expression, name) &&
            std::find(matching.begin(), matching.end(), name) == matching.end()) {
            matching.push_back(name);
        }
    }
    return matching;
}

std::unique_ptr<Instrument> BuiltinResourceManager::open(const std::string& resource,
                                                         std::string& error) {
    auto address = parseResourceName(resource, error);
    if (!address) {
        return nullptr;
    }
    if (const auto* socket = std::get_if<SocketResource>(&*address)) {
        return connectSocket(*socket, kConnectTimeout, error);
    }
    if (const auto* serial = std::get_if<SerialResource>(&*address)) {
        return openSerial(*serial, error);
    }
    const auto& usb = std::get<UsbtmcResource>(*address);
    if (!usb.devicePath.empty()) {
        return openDeviceFile(usb.devicePath, error);
    }
    for (const UsbtmcDevice& device : findUsbtmcDevices(folders_)) {
        if (device.idsKnown && device.vendor == usb.vendor && device.product == usb.product &&
            (usb.serial.empty() || usb.serial == device.serial)) {
            return openDeviceFile(device.path, error);
        }
    }
    error = "no usbtmc device with these ids is connected";
    return nullptr;
}

}  // namespace tarvo

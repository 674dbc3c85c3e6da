#include "device/LibusbDevice.h"

#include <libusb.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

namespace kovravme {
namespace {

// Every transfer has a time limit, as a kernel driver's has: a bridge that stopped answering (or
// was unplugged) fails the exchange within a few seconds, and the handle lock is let go, instead
// of hanging its caller and every other user of the lock for ever.
constexpr unsigned kTransferTimeoutMs = 3000;

libusb_context* usbContext() {
    static libusb_context* context = [] {
        libusb_context* created = nullptr;
        return libusb_init(&created) == LIBUSB_SUCCESS ? created : nullptr;
    }();
    return context;
}

uint16_t idFromEnvironment(const char* name, uint16_t fallback) {
    return parseUsbId(std::getenv(name)).value_or(fallback);
}

long negatedErrno(int libusbError) {
    switch (libusbError) {
        case LIBUSB_ERROR_TIMEOUT:
            return -ETIMEDOUT;
        case LIBUSB_ERROR_NO_DEVICE:
            return -ENODEV;
        case LIBUSB_ERROR_PIPE:
            return -EPIPE;
        case LIBUSB_ERROR_ACCESS:
            return -EACCES;
        default:
            return -EIO;
    }
}

}  // namespace

std::optional<uint16_t> parseUsbId(const char* text) {
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, 0);
    if (errno != 0 || *end != '\0' || value > 0xFFFF || *text == '-') {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

int selectUsbBoard(const std::vector<UsbCandidate>& candidates, uint16_t vendorId,
                   uint16_t productId, int boardNumber) {
    if (boardNumber < 0) {
        return -1;
    }
    std::vector<int> matching;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i].vendorId == vendorId && candidates[i].productId == productId) {
            matching.push_back(static_cast<int>(i));
        }
    }
    std::sort(matching.begin(), matching.end(), [&](int a, int b) {
        return std::pair(candidates[a].bus, candidates[a].address) <
               std::pair(candidates[b].bus, candidates[b].address);
    });
    return static_cast<size_t>(boardNumber) < matching.size() ? matching[boardNumber] : -1;
}

std::optional<BulkEndpoints> findBulkEndpoints(const libusb_interface_descriptor& interface) {
    std::optional<uint8_t> out;
    std::optional<uint8_t> in;
    for (int i = 0; i < interface.bNumEndpoints; ++i) {
        const libusb_endpoint_descriptor& endpoint = interface.endpoint[i];
        if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) {
            continue;
        }
        bool isIn = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
        auto& slot = isIn ? in : out;
        if (!slot) {
            slot = endpoint.bEndpointAddress;
        }
    }
    if (!out || !in) {
        return std::nullopt;
    }
    return BulkEndpoints{*out, *in};
}

std::unique_ptr<UsbDevice> LibusbDevice::open(int boardNumber) {
    libusb_context* context = usbContext();
    if (context == nullptr) {
        return nullptr;
    }
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) {
        return nullptr;
    }
    std::vector<UsbCandidate> candidates;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        UsbCandidate candidate;
        if (libusb_get_device_descriptor(list[i], &descriptor) == LIBUSB_SUCCESS) {
            candidate.vendorId = descriptor.idVendor;
            candidate.productId = descriptor.idProduct;
        }
        candidate.bus = libusb_get_bus_number(list[i]);
        candidate.address = libusb_get_device_address(list[i]);
        candidates.push_back(candidate);
    }
    int chosen =
        selectUsbBoard(candidates, idFromEnvironment("KOVRAVME_USB_VID", kDefaultUsbVendorId),
                       idFromEnvironment("KOVRAVME_USB_PID", kDefaultUsbProductId), boardNumber);
    libusb_device_handle* handle = nullptr;
    std::optional<BulkEndpoints> endpoints;
    int interfaceNumber = 0;
    if (chosen >= 0) {
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(list[chosen], &config) == LIBUSB_SUCCESS) {
            if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
                const libusb_interface_descriptor& first = config->interface[0].altsetting[0];
                interfaceNumber = first.bInterfaceNumber;
                endpoints = findBulkEndpoints(first);
            }
            libusb_free_config_descriptor(config);
        }
        if (endpoints && libusb_open(list[chosen], &handle) != LIBUSB_SUCCESS) {
            handle = nullptr;
        }
    }
    libusb_free_device_list(list, 1);
    if (handle == nullptr) {
        return nullptr;
    }
    libusb_set_auto_detach_kernel_driver(handle, 1);
    if (libusb_claim_interface(handle, interfaceNumber) != LIBUSB_SUCCESS) {
        libusb_close(handle);
        return nullptr;
    }
    return std::unique_ptr<UsbDevice>(new LibusbDevice(handle, interfaceNumber, *endpoints));
}

LibusbDevice::~LibusbDevice() {
    close();
}

long LibusbDevice::bulkWrite(int pipe, const void* data, size_t length) {
    if (handle_ == nullptr || pipe != kWritePipe || length > INT_MAX) {
        return -EINVAL;
    }
    int transferred = 0;
    int result = libusb_bulk_transfer(handle_, endpoints_.out,
                                      static_cast<unsigned char*>(const_cast<void*>(data)),
                                      static_cast<int>(length), &transferred, kTransferTimeoutMs);
    if (result != LIBUSB_SUCCESS && transferred == 0) {
        return negatedErrno(result);
    }
    return transferred;
}

long LibusbDevice::bulkRead(int pipe, void* data, size_t maximum) {
    if (handle_ == nullptr || pipe != kReadPipe) {
        return -EINVAL;
    }
    int transferred = 0;
    int result = libusb_bulk_transfer(handle_, endpoints_.in, static_cast<unsigned char*>(data),
                                      static_cast<int>(std::min(maximum, kMaxTransfer)),
                                      &transferred, kTransferTimeoutMs);
    // A time-out after some bytes is a short read; with none it is as if nothing was pending.
    if (result != LIBUSB_SUCCESS && result != LIBUSB_ERROR_TIMEOUT) {
        return negatedErrno(result);
    }
    return transferred;
}

bool LibusbDevice::close() {
    if (handle_ == nullptr) {
        return true;
    }
    bool released = libusb_release_interface(handle_, interface_) == LIBUSB_SUCCESS;
    libusb_close(handle_);
    handle_ = nullptr;
    return released;
}

}  // namespace kovravme

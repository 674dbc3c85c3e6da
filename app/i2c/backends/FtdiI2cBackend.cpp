#include "i2c/backends/FtdiI2cBackend.h"

#include <ftdi.h>
#include <libusb.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "i2c/I2cBus.h"
#include "i2c/backends/Mpsse.h"

namespace tarvo {

namespace {

constexpr int kFtdiVendor = 0x0403;

struct ChipKind {
    int product;
    const char* channels;  // the channels with an MPSSE engine
};
constexpr ChipKind kChips[] = {{0x6010, "AB"}, {0x6011, "AB"}, {0x6014, "A"}};

// "ftdi-<bus>-<device address>-<channel>": stable while the adapter stays plugged in.
std::string entryId(int bus, int address, char channel) {
    return "ftdi-" + std::to_string(bus) + "-" + std::to_string(address) + "-" + channel;
}

bool parseId(const std::string& id, int& bus, int& address, char& channel) {
    char c = 0;
    int n = 0;
    if (std::sscanf(id.c_str(), "ftdi-%d-%d-%c%n", &bus, &address, &c, &n) != 3 ||
        size_t(n) != id.size()) {
        return false;
    }
    channel = c;
    return channel == 'A' || channel == 'B';
}

class FtdiTransport : public mpsse::Transport {
  public:
    explicit FtdiTransport(ftdi_context* context) : context_(context) {}
    ~FtdiTransport() override {
        ftdi_set_bitmode(context_, 0, BITMODE_RESET);
        ftdi_usb_close(context_);
        ftdi_free(context_);
    }

    bool send(std::span<const uint8_t> bytes) override {
        return ftdi_write_data(context_, bytes.data(), int(bytes.size())) == int(bytes.size());
    }

    bool receive(std::span<uint8_t> out, int timeoutMs) override {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t done = 0;
        while (done < out.size()) {
            int n = ftdi_read_data(context_, out.data() + done, int(out.size() - done));
            if (n < 0) {
                return false;
            }
            done += size_t(n);
            if (n == 0) {
                if (std::chrono::steady_clock::now() >= deadline) {
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        return true;
    }

  private:
    ftdi_context* context_;
};

}  // namespace

int32_t FtdiI2cBackend::list(std::vector<AdapterEntry>& entries) {
    ftdi_context* context = ftdi_new();
    if (context == nullptr) {
        return kI2cIoError;
    }
    int32_t status = kI2cSuccess;
    for (const ChipKind& chip : kChips) {
        ftdi_device_list* devices = nullptr;
        if (ftdi_usb_find_all(context, &devices, kFtdiVendor, chip.product) < 0) {
            status = kI2cIoError;  // no USB access at all: nothing of this kind can be listed
            continue;
        }
        for (ftdi_device_list* d = devices; d != nullptr; d = d->next) {
            char description[128] = "FTDI adapter";
            ftdi_usb_get_strings(context, d->dev, nullptr, 0, description, sizeof(description),
                                 nullptr, 0);
            int bus = libusb_get_bus_number(d->dev);
            int address = libusb_get_device_address(d->dev);
            for (const char* c = chip.channels; *c != '\0'; ++c) {
                AdapterEntry entry;
                entry.id = entryId(bus, address, *c);
                entry.name = std::string(description) + " " + *c;
                entry.locationId = (bus << 8) | address;
                entry.channel = std::string(1, *c);
                entry.backend = "ftdi";
                entries.push_back(std::move(entry));
            }
        }
        ftdi_list_free(&devices);
    }
    ftdi_free(context);
    return status;
}

int32_t FtdiI2cBackend::open(const AdapterEntry& entry, uint32_t& clockHz,
                             std::unique_ptr<I2cLink>& link) {
    int bus = 0;
    int address = 0;
    char channel = 0;
    if (!parseId(entry.id, bus, address, channel)) {
        return kI2cDeviceNotFound;
    }
    ftdi_context* context = ftdi_new();
    if (context == nullptr) {
        return kI2cDeviceOpenFailed;
    }
    ftdi_set_interface(context, channel == 'A' ? INTERFACE_A : INTERFACE_B);
    int result = ftdi_usb_open_bus_addr(context, uint8_t(bus), uint8_t(address));
    if (result < 0) {
        ftdi_free(context);
        return result == -3 ? kI2cDeviceNotFound : kI2cDeviceOpenFailed;
    }
    auto transport = std::make_unique<FtdiTransport>(context);
    if (ftdi_usb_reset(context) < 0 || ftdi_set_latency_timer(context, 1) < 0 ||
        ftdi_set_bitmode(context, 0, BITMODE_RESET) < 0 ||
        ftdi_set_bitmode(context, 0, BITMODE_MPSSE) < 0 || ftdi_tcioflush(context) < 0) {
        return kI2cNotI2cAdapter;
    }
    // An engine in MPSSE mode answers an unknown opcode with 0xFA and the opcode.
    const uint8_t bogus[] = {0xAA};
    uint8_t echo[2] = {};
    if (!transport->send(bogus) || !transport->receive(echo, mpsse::kAckTimeoutMs) ||
        echo[0] != 0xFA || echo[1] != 0xAA) {
        return kI2cNotI2cAdapter;
    }
    uint16_t divisor = mpsse::divisorFor(clockHz, clockHz);
    if (!transport->send(mpsse::setupCommands(divisor))) {
        return kI2cIoError;
    }
    link = std::make_unique<mpsse::MpsseLink>(std::move(transport));
    return kI2cSuccess;
}

}  // namespace tarvo

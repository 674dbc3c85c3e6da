#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "i2c/I2cAdapter.h"
#include "i2c/I2cBus.h"

namespace nimbra::test {

// An adapter backend for tests: its entries are given, and its link records every transaction
// ("W <hex>" / "W <hex> nostop" / "R <address byte hex>") and answers reads from a function.
struct FakeAdapterRecord {
    std::vector<std::string> transactions;
    int opens = 0;
    // Reads answer these two bytes; the argument is the ADC command byte written before.
    std::function<std::vector<uint8_t>(uint8_t)> answer = [](uint8_t) {
        return std::vector<uint8_t>{0, 0};
    };
    // Transaction numbers (counted from 0 over writes and reads) that fail with this status.
    std::function<int32_t(size_t, const std::string&)> fail = [](size_t, const std::string&) {
        return tarvo::kI2cSuccess;
    };
};

std::string hexOf(const std::vector<uint8_t>& bytes);

class FakeLink : public tarvo::I2cLink {
  public:
    explicit FakeLink(std::shared_ptr<FakeAdapterRecord> record) : record_(std::move(record)) {}
    int32_t write(std::span<const uint8_t> bytes, bool stop) override;
    int32_t read(uint8_t addressByte, std::span<uint8_t> buffer) override;

  private:
    std::shared_ptr<FakeAdapterRecord> record_;
    uint8_t lastCommand_ = 0;
};

class FakeBackend : public tarvo::I2cBackend {
  public:
    FakeBackend(std::vector<tarvo::AdapterEntry> entries, std::shared_ptr<FakeAdapterRecord> record)
        : entries_(std::move(entries)), record_(std::move(record)) {}

    int32_t list(std::vector<tarvo::AdapterEntry>& entries) override {
        entries.insert(entries.end(), entries_.begin(), entries_.end());
        return tarvo::kI2cSuccess;
    }
    int32_t open(const tarvo::AdapterEntry&, uint32_t&,
                 std::unique_ptr<tarvo::I2cLink>& link) override {
        ++record_->opens;
        link = std::make_unique<FakeLink>(record_);
        return tarvo::kI2cSuccess;
    }

  private:
    std::vector<tarvo::AdapterEntry> entries_;
    std::shared_ptr<FakeAdapterRecord> record_;
};

// One entry per name, ids "fake0", "fake1", ...
std::vector<tarvo::AdapterEntry> fakeEntries(const std::vector<std::string>& names);

}  // namespace nimbra::test

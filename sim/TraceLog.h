#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>

namespace vmesim {

// The `--trace FILE` record of what passed between the library and the bridges: a line
// "W <request hex>" and a line "R <reply hex>" per request, flushed line by line so that a test
// can read it while the simulator runs. Shared by every transport, so one request's two lines
// stay together.
class TraceLog {
  public:
    TraceLog() = default;
    explicit TraceLog(const std::string& path);  // throws std::runtime_error
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    bool enabled() const { return file_ != nullptr; }
    void exchange(std::span<const uint8_t> request, std::span<const uint8_t> reply);
    // A line of another bus (the I2C chips' "I2C W ..." lines), written as given.
    void text(const std::string& line);

  private:
    void line(char kind, std::span<const uint8_t> bytes);

    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::string text_;
};

}  // namespace vmesim

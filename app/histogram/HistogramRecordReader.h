#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

// Reads a DAQ data file record by record. The length is taken once at open and rounded down to
// whole records, so a file that a run is still appending to is read only as far as it was then.
// Records come out of a large reused buffer filled by few big reads; the words are in host order.
class HistogramRecordReader {
  public:
    HistogramRecordReader(size_t recordBytes, size_t chunkBytes = 1 << 20);
    ~HistogramRecordReader();
    HistogramRecordReader(const HistogramRecordReader&) = delete;
    HistogramRecordReader& operator=(const HistogramRecordReader&) = delete;

    // false when the file cannot be read; failure() then says why.
    bool open(const std::string& path);
    void close();
    const std::string& failure() const { return failure_; }

    // Bytes of whole records present when the file was opened.
    uint64_t total() const { return total_; }

    // The next whole record, or nullptr when none is left or the file ended early (the file
    // shrank, or a read failed); shortRead() tells the two apart.
    const uint32_t* next() {
        if (pos_ < filled_) {
            const uint32_t* record = buffer_.data() + pos_ / 4;
            pos_ += recordBytes_;
            return record;
        }
        return refill();
    }
    bool shortRead() const { return shortRead_; }

  private:
    const uint32_t* refill();

    size_t recordBytes_;
    int fd_ = -1;
    uint64_t total_ = 0;
    uint64_t consumed_ = 0;  // bytes of the file moved into the buffer so far
    size_t filled_ = 0;      // whole-record bytes in the buffer
    size_t pos_ = 0;
    bool shortRead_ = false;
    std::string failure_;
    std::vector<uint32_t> buffer_;
};

}  // namespace tarvo

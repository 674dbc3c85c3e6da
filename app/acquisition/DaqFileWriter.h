#pragma once

#include <cstddef>
#include <string>

namespace tarvo {

// One DAQ data file opened by a run for appending. Runs append to what earlier runs left, so a
// file is never truncated except for a partial last record: a run that was killed in mid-write
// leaves one, and cutting it off keeps every later record aligned for the reader.
class DaqFileWriter {
  public:
    enum class Sharing {
        DenyWriters,  // FIFO and raw files: a second writer is refused while we hold the file
        Shared        // the older layout's clean file
    };

    DaqFileWriter() = default;
    ~DaqFileWriter();
    DaqFileWriter(const DaqFileWriter&) = delete;
    DaqFileWriter& operator=(const DaqFileWriter&) = delete;

    // Creates the file or opens it at its end. recordBytes > 0 trims a partial last record.
    // On failure `reason` holds the system's reason.
    bool open(const std::string& path, Sharing sharing, size_t recordBytes, std::string& reason);

    // Writes all bytes or none: a failed or short write (a full disk, a removed drive) cuts the
    // file back to its length before the call, so the file keeps whole records only.
    bool append(const void* data, size_t bytes, std::string& reason);

    // Cuts the file back to an earlier length (records of an event that could not be written to
    // every file).
    bool truncate(size_t size, std::string& reason);

    // Flushes the data to the disk and closes; true when both worked.
    bool close(std::string& reason);

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    // Bytes in the file (as this writer knows it).
    size_t size() const { return size_; }

  private:
    static constexpr size_t kWriteBackChunk = 256 * 1024;

    int fd_ = -1;
    std::string path_;
    size_t size_ = 0;
    size_t writeBackFrom_ = 0;  // start of the bytes whose write-back has not been started
};

// The message that ends a run when a data file cannot be written.
std::string daqWriteFailedMessage(const std::string& path, const std::string& reason);
// The message that ends a run when a data file cannot be opened: the reason on a second line.
std::string daqOpenFailedMessage(const std::string& path, const std::string& reason);

}  // namespace tarvo

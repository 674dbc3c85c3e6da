#include "acquisition/DaqRunJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

namespace tarvo {
namespace {

constexpr const char* kFirstLine = "DAQ run start";
constexpr const char* kLastLine = "end";
constexpr size_t kMaxJournalBytes = 4096;

std::string systemReason(int error) {
    return std::strerror(error);
}

std::string inUseReason() {
    return "the file is in use by another run";
}

// The note is complete only up to its last line: a longer note written before may leave bytes
// behind it until the file is cut to the new length.
std::optional<FifoRecordCounts> parseJournal(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kFirstLine) {
        return std::nullopt;
    }
    FifoRecordCounts records;
    records.fill(-1);
    while (std::getline(in, line)) {
        if (line == kLastLine) {
            return records;
        }
        std::istringstream fields(line);
        int fifo = -1;
        long long count = -1;
        std::string rest;
        if (!(fields >> fifo >> count) || (fields >> rest) || fifo < 0 || fifo >= daq::kFifoCount ||
            count < 0 || records[static_cast<size_t>(fifo)] >= 0) {
            return std::nullopt;
        }
        records[static_cast<size_t>(fifo)] = count;
    }
    return std::nullopt;
}

std::optional<std::string> readAllAt(int fd) {
    std::string text(kMaxJournalBytes, '\0');
    size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ::pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    return text;
}

// One FIFO file of the last run, held locked while it is measured and cut.
struct HeldFile {
    int fd = -1;
    int64_t records = 0;  // whole records
    off_t bytes = 0;
    ~HeldFile() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

}  // namespace

DaqRunJournal::~DaqRunJournal() {
    close();
}

std::string DaqRunJournal::pathFor(const std::string& filenameClr) {
    std::filesystem::path path(filenameClr);
    return (path.parent_path() / (path.stem().string() + ".journal")).string();
}

bool DaqRunJournal::open(const std::string& filenameClr, std::string& failedPath,
                         std::string& reason) {
    close();
    cut_.fill(0);
    const std::string path = pathFor(filenameClr);
    failedPath = path;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = systemReason(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        reason = errno == EWOULDBLOCK ? inUseReason() : systemReason(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    filenameClr_ = filenameClr;
    if (!repair(failedPath, reason)) {
        close();
        return false;
    }
    return true;
}

bool DaqRunJournal::repair(std::string& failedPath, std::string& reason) {
    auto text = readAllAt(fd_);
    if (!text) {
        reason = systemReason(errno);
        return false;
    }
    const auto start = parseJournal(*text);
    if (!start) {
        return true;  // a new base name, or a note we cannot read: nothing to bring in step
    }
    std::array<HeldFile, daq::kFifoCount> files;
    int64_t common = INT64_MAX;
    for (int k = 0; k < daq::kFifoCount; ++k) {
        const int64_t before = (*start)[static_cast<size_t>(k)];
        if (before < 0) {
            continue;
        }
        const std::string path = daq::fifoFileName(filenameClr_, k);
        HeldFile& file = files[static_cast<size_t>(k)];
        file.fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (file.fd < 0) {
            if (errno == ENOENT) {
                return true;  // moved away since: the files are no longer the run's
            }
            failedPath = path;
            reason = systemReason(errno);
            return false;
        }
        if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0) {
            failedPath = path;
            reason = errno == EWOULDBLOCK ? inUseReason() : systemReason(errno);
            return false;
        }
        struct stat st {};
        if (::fstat(file.fd, &st) != 0) {
            failedPath = path;
            reason = systemReason(errno);
            return false;
        }
        file.bytes = st.st_size;
        file.records =
            static_cast<int64_t>(static_cast<uint64_t>(st.st_size) / daq::kFifoRecordBytes);
        if (file.records < before) {
            return true;  // shorter than at the run's start: changed by hand, leave it alone
        }
        common = std::min(common, file.records - before);
    }
    if (common == INT64_MAX) {
        return true;
    }
    for (int k = 0; k < daq::kFifoCount; ++k) {
        const int64_t before = (*start)[static_cast<size_t>(k)];
        HeldFile& file = files[static_cast<size_t>(k)];
        if (before < 0) {
            continue;
        }
        const int64_t keep = before + common;
        const off_t keepBytes =
            static_cast<off_t>(keep) * static_cast<off_t>(daq::kFifoRecordBytes);
        if (file.bytes == keepBytes) {
            continue;
        }
        if (::ftruncate(file.fd, keepBytes) != 0) {
            failedPath = daq::fifoFileName(filenameClr_, k);
            reason = systemReason(errno);
            return false;
        }
        cut_[static_cast<size_t>(k)] = file.records - keep;
    }
    return true;
}

bool DaqRunJournal::recordStart(const FifoRecordCounts& records, std::string& reason) {
    if (fd_ < 0) {
        reason = systemReason(EBADF);
        return false;
    }
    std::string text = std::string(kFirstLine) + "\n";
    for (int k = 0; k < daq::kFifoCount; ++k) {
        if (records[static_cast<size_t>(k)] >= 0) {
            text +=
                std::to_string(k) + " " + std::to_string(records[static_cast<size_t>(k)]) + "\n";
        }
    }
    text += std::string(kLastLine) + "\n";
    // One write: a process killed around it leaves the old note or the new one, never a mix.
    ssize_t n;
    do {
        n = ::pwrite(fd_, text.data(), text.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(text.size())) {
        reason = systemReason(n < 0 ? errno : ENOSPC);
        return false;
    }
    if (::ftruncate(fd_, static_cast<off_t>(text.size())) != 0) {
        reason = systemReason(errno);
        return false;
    }
    // On the disk before the run's first record, so that a crash cannot leave records of a run
    // the journal does not know about.
    if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
        reason = systemReason(errno);
        return false;
    }
    return true;
}

void DaqRunJournal::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::optional<FifoRecordCounts> readDaqRunJournal(const std::string& filenameClr) {
    int fd = ::open(DaqRunJournal::pathFor(filenameClr).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    auto text = readAllAt(fd);
    ::close(fd);
    return text ? parseJournal(*text) : std::nullopt;
}

FifoRecordCounts fifoRecordCounts(const std::string& filenameClr,
                                  const std::array<bool, daq::kFifoCount>& wanted) {
    FifoRecordCounts counts;
    counts.fill(-1);
    for (int k = 0; k < daq::kFifoCount; ++k) {
        if (!wanted[static_cast<size_t>(k)]) {
            continue;
        }
        struct stat st {};
        if (::stat(daq::fifoFileName(filenameClr, k).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            counts[static_cast<size_t>(k)] =
                static_cast<int64_t>(static_cast<uint64_t>(st.st_size) / daq::kFifoRecordBytes);
        }
    }
    return counts;
}

}  // namespace tarvo

namespace tarvo {

std::optional<std::string> fifoFilesOutOfStep(const std::string& filenameClr,
                                              const std::array<bool, daq::kFifoCount>& wanted) {
    const FifoRecordCounts counts = fifoRecordCounts(filenameClr, wanted);
    std::string list;
    int64_t first = -1;
    bool differ = false;
    for (int k = 0; k < daq::kFifoCount; ++k) {
        const int64_t n = counts[static_cast<size_t>(k)];
        if (n < 0) {
            continue;
        }
        differ = differ || (first >= 0 && n != first);
        first = first < 0 ? n : first;
        list += (list.empty() ? "" : ", ") +
                std::filesystem::path(daq::fifoFileName(filenameClr, k)).filename().string() + " " +
                std::to_string(n);
    }
    if (!differ) {
        return std::nullopt;
    }
    std::string text =
        "The files of " + filenameClr + " hold different numbers of records: " + list + ".";
    // The files of the last run grew by different amounts: it was cut off mid-event.
    if (const auto start = readDaqRunJournal(filenameClr)) {
        const FifoRecordCounts now =
            fifoRecordCounts(filenameClr, {true, true, true, true, true, true, true, true});
        int64_t grown = -1;
        bool cutOff = false;
        for (int k = 0; k < daq::kFifoCount; ++k) {
            const int64_t before = (*start)[static_cast<size_t>(k)];
            if (before < 0 || now[static_cast<size_t>(k)] < before) {
                continue;
            }
            const int64_t d = now[static_cast<size_t>(k)] - before;
            cutOff = cutOff || (grown >= 0 && d != grown);
            grown = grown < 0 ? d : grown;
        }
        if (cutOff) {
            text +=
                "\nThe last run ended between the writes of one event; the next run on these "
                "files brings them back in step.";
        }
    }
    return text;
}

}  // namespace tarvo

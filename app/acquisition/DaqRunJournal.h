#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "acquisition/DaqFileLayout.h"

namespace tarvo {

// Record counts of the eight FIFO files of one base name; -1 for a file that is not counted.
using FifoRecordCounts = std::array<int64_t, daq::kFifoCount>;

// A run appends one event to its FIFO files one file after the other, so a run killed between
// two of those writes leaves the files with different record counts, and the next run would
// append behind them: record i would no longer be the same event in every file. The journal
// ("stem.journal" beside the files) notes, before a run appends anything, which files it writes
// and how many records each held then. The next run reads it back and cuts the files of that run
// to the last event all of them hold; records from before that run's start are never cut, so
// earlier runs with other TA sections keep all of theirs. The journal is held locked for the
// whole run, which also keeps a second run off the same files.
class DaqRunJournal {
  public:
    DaqRunJournal() = default;
    ~DaqRunJournal();
    DaqRunJournal(const DaqRunJournal&) = delete;
    DaqRunJournal& operator=(const DaqRunJournal&) = delete;

    // The journal of the FIFO files derived from filenameClr: folder/stem.journal.
    static std::string pathFor(const std::string& filenameClr);

    // Takes the journal for this run and brings the files of the run it names back in step.
    // On failure `failedPath` and `reason` say which file could not be used and why.
    bool open(const std::string& filenameClr, std::string& failedPath, std::string& reason);

    // Notes the files this run appends to with their record counts (-1 for the others); must be
    // called before the first append.
    bool recordStart(const FifoRecordCounts& records, std::string& reason);

    // Releases the journal; the note stays for the next run.
    void close();

    // Records cut by open() from each file (0 when the files were in step).
    const FifoRecordCounts& cut() const { return cut_; }

  private:
    bool repair(std::string& failedPath, std::string& reason);

    int fd_ = -1;
    std::string filenameClr_;
    FifoRecordCounts cut_{};
};

// The start of the last run as its journal notes it, if there is a readable journal.
std::optional<FifoRecordCounts> readDaqRunJournal(const std::string& filenameClr);

// Whole records in each FIFO file of filenameClr that `wanted` names; -1 for the others and for
// files that do not exist.
FifoRecordCounts fifoRecordCounts(const std::string& filenameClr,
                                  const std::array<bool, daq::kFifoCount>& wanted);

// A warning when the FIFO files of filenameClr that `wanted` names hold different numbers of
// records (so that record i is not the same event in each), with the counts; nothing when they
// agree. Says so when the last run was cut off between the writes of one event.
std::optional<std::string> fifoFilesOutOfStep(const std::string& filenameClr,
                                              const std::array<bool, daq::kFifoCount>& wanted);

}  // namespace tarvo

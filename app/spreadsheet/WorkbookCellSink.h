#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "acquisition/CellSink.h"
#include "spreadsheet/CExcel.h"

namespace tarvo {

class Operator;

// The results workbook of a "Sequence Test Auto" run, as the cells of the sequence test reach
// it. postCell writes at once, on the caller's thread: the window calls it on its own thread
// from a queued call, the command line from the worker. Cells that arrive while no workbook is
// open are dropped.
class WorkbookCellSink : public CellSink {
  public:
    explicit WorkbookCellSink(Operator& op,
                              OfficeOptions options = OfficeOptions::fromEnvironment(),
                              std::chrono::milliseconds retryWait = std::chrono::milliseconds(100));

    // Opens the workbook for a run; cells are written from now on if it opened.
    WorkbookOpen open(const std::string& path);
    // The run has ended: calculation back on, the workbook left open and unsaved for the user.
    void close();
    // Whether cells are being written (the run state's excelOpen).
    bool isOpen() const { return excelOpen_; }

    // Writes the cell and recalculates. Three failures in a row ask the operator to retry or
    // cancel; Cancel closes the workbook, and the run's later cells are dropped.
    void postCell(int row, int column, CellValue value) override;

    // The end of a command-line run: stores the workbook, ends an office that was started for
    // this run, and leaves the user's own office running with the workbook open. False when the
    // workbook could not be stored.
    bool finish();

    CExcel& excel() { return excel_; }

  private:
    Operator& op_;
    CExcel excel_;
    std::chrono::milliseconds retryWait_;
    std::atomic<bool> excelOpen_{false};
};

}  // namespace tarvo

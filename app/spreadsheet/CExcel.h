#pragma once

#include <sys/types.h>
#include <memory>
#include <optional>
#include <string>

#include "acquisition/CellSink.h"
#include "spreadsheet/OfficeOptions.h"

namespace tarvo {

class Operator;

// What came of opening a workbook. NoOffice is an ordinary state of a desk without an office:
// the run goes on and fills no workbook.
enum class WorkbookOpen { Opened, NoOffice, Failed };

// The connection to the office's spreadsheet: the desktop, the results workbook, its "TA8" sheet
// and that sheet's cells. Every office reference it holds lives from open() to close(). The
// office types stay behind this header, so its users need no office headers.
class CExcel {
  public:
    CExcel(Operator& op, OfficeOptions options);
    // Closes the workbook if it is still open; the office stays.
    ~CExcel();
    CExcel(const CExcel&) = delete;
    CExcel& operator=(const CExcel&) = delete;

    // Attaches to the office (starting one when none listens), finds the workbook among the
    // open documents by its file name or loads it (creating it as an .xls workbook when the file
    // does not exist), activates or appends "TA8" and switches automatic calculation off.
    // Shows the failure to the operator.
    WorkbookOpen open(const std::string& path);
    // Automatic calculation back on and every reference released; the office and the workbook
    // stay open and unsaved. False (after telling the operator) when the office refused.
    bool close();
    bool isOpen() const;

    // One cell of "TA8" (row and column from 1) and one recalculation of the workbook. Throw
    // AutomationError with the office's text, or another std::exception.
    void setItem(int row, int column, const CellValue& value);
    void recalculate();

    // close() that first writes the workbook to its file in its own format, calculation back on
    // so that the file opens calculating. False (after telling the operator) on a failure.
    bool storeAndClose();
    // Ends the office if this object started it; an office the user had open stays as it is.
    // Returns true when it ended one.
    bool endStartedOffice();
    // The process id of the office this object started and that still runs.
    std::optional<pid_t> startedOfficePid() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarvo

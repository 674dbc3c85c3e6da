#include "spreadsheet/WorkbookCellSink.h"

#include <thread>

#include "shell/Operator.h"
#include "spreadsheet/AutomationError.h"

namespace tarvo {

namespace {
constexpr int kFailuresBeforeAsking = 3;
}

WorkbookCellSink::WorkbookCellSink(Operator& op, OfficeOptions options,
                                   std::chrono::milliseconds retryWait)
    : op_(op), excel_(op, std::move(options)), retryWait_(retryWait) {}

WorkbookOpen WorkbookCellSink::open(const std::string& path) {
    const WorkbookOpen result = excel_.open(path);
    excelOpen_ = result == WorkbookOpen::Opened;
    return result;
}

void WorkbookCellSink::close() {
    excelOpen_ = false;
    excel_.close();
}

void WorkbookCellSink::postCell(int row, int column, CellValue value) {
    int failures = 0;
    while (excelOpen_) {
        std::string message;
        try {
            excel_.setItem(row, column, value);
            excel_.recalculate();
            return;
        } catch (const AutomationError& error) {
            message = std::string("Excel Error:\r\n\r\n") + error.what() + "\r\n";
        } catch (const std::exception&) {
            message = "Error on CTarvoDlg::OnSetExcel()";
        }
        ++failures;
        std::this_thread::sleep_for(retryWait_);
        if (failures < kFailuresBeforeAsking) {
            continue;
        }
        excelOpen_ = false;
        if (op_.askRetryCancel(message)) {
            excelOpen_ = true;
            failures = 0;
        } else {
            excel_.close();
        }
    }
}

bool WorkbookCellSink::finish() {
    excelOpen_ = false;
    const bool stored = excel_.storeAndClose();
    excel_.endStartedOffice();
    return stored;
}

}  // namespace tarvo

// CExcel for a build without the office's SDK: the program cannot reach an office, which is the
// same ordinary state as a desk without one.
#include <stdexcept>

#include "shell/Operator.h"
#include "spreadsheet/CExcel.h"

namespace tarvo {

struct CExcel::Impl {
    Operator& op;
};

CExcel::CExcel(Operator& op, OfficeOptions) : impl_(std::make_unique<Impl>(Impl{op})) {}

CExcel::~CExcel() = default;

WorkbookOpen CExcel::open(const std::string&) {
    impl_->op.error("Server not found");
    return WorkbookOpen::NoOffice;
}

bool CExcel::close() {
    return true;
}

bool CExcel::isOpen() const {
    return false;
}

void CExcel::setItem(int, int, const CellValue&) {
    throw std::logic_error("no workbook");
}

void CExcel::recalculate() {
    throw std::logic_error("no workbook");
}

bool CExcel::storeAndClose() {
    return true;
}

bool CExcel::endStartedOffice() {
    return false;
}

std::optional<pid_t> CExcel::startedOfficePid() const {
    return std::nullopt;
}

}  // namespace tarvo

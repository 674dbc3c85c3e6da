#pragma once

#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/uno/Reference.hxx>

#include "acquisition/CellSink.h"

namespace tarvo {

// The cells of one sheet.
class CCells {
  public:
    CCells() = default;
    explicit CCells(css::uno::Reference<css::sheet::XSpreadsheet> sheet)
        : sheet_(std::move(sheet)) {}

    // Row and column count from 1. Texts stay texts: a section name that looks like a number
    // or a formula is not reinterpreted.
    void setItem(int row, int column, const CellValue& value);
    bool isSet() const { return sheet_.is(); }
    void release() { sheet_.clear(); }

  private:
    css::uno::Reference<css::sheet::XSpreadsheet> sheet_;
};

}  // namespace tarvo

#include "spreadsheet/CCells.h"

#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>

#include <stdexcept>
#include <string>

#include "spreadsheet/UnoText.h"

namespace tarvo {

void CCells::setItem(int row, int column, const CellValue& value) {
    if (!sheet_.is()) {
        throw std::logic_error("no sheet");
    }
    if (row < 1 || column < 1) {
        throw std::out_of_range("cell " + std::to_string(row) + "," + std::to_string(column));
    }
    const auto cell = sheet_->getCellByPosition(column - 1, row - 1);
    if (const auto* number = std::get_if<int32_t>(&value)) {
        cell->setValue(*number);
    } else {
        css::uno::Reference<css::text::XText>(cell, css::uno::UNO_QUERY_THROW)
            ->setString(uno::toOu(std::get<std::string>(value)));
    }
}

}  // namespace tarvo

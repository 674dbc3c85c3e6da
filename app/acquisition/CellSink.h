#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace tarvo {

// One value of a results-workbook cell: a text (section names) or a 32-bit integer (measured
// values).
using CellValue = std::variant<std::string, int32_t>;

// Where the automatic sequence test sends its workbook cells. postCell hands the value over and
// returns at once (the window writes it later on its own thread); the receiver owns the value
// from then on, whether it can write it or not. Rows and columns count from 1.
class CellSink {
  public:
    virtual ~CellSink() = default;
    virtual void postCell(int row, int column, CellValue value) = 0;
};

}  // namespace tarvo

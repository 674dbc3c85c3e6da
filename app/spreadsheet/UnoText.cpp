#include "spreadsheet/UnoText.h"

#include <cppu/unotype.hxx>
#include <cppuhelper/exc_hlp.hxx>

namespace tarvo::uno {

std::string describe(const css::uno::Exception& error) {
    std::string text = toStd(error.Message);
    if (text.empty()) {
        // Only the thrown object knows its most derived type.
        try {
            throw;
        } catch (const css::uno::Exception&) {
            text = toStd(cppu::getCaughtException().getValueTypeName());
        } catch (...) {
            text = "unknown office error";
        }
    }
    return text;
}

}  // namespace tarvo::uno

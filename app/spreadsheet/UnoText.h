#pragma once

#include <com/sun/star/uno/Exception.hpp>
#include <rtl/ustring.hxx>

#include <string>

namespace tarvo::uno {

inline std::string toStd(const rtl::OUString& text) {
    return rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8).getStr();
}

inline rtl::OUString toOu(const std::string& text) {
    return rtl::OStringToOUString(rtl::OString(text.data(), static_cast<sal_Int32>(text.size())),
                                  RTL_TEXTENCODING_UTF8);
}

// The office's text for an exception it raised; some carry none, and then their type says what
// went wrong.
std::string describe(const css::uno::Exception& error);

}  // namespace tarvo::uno

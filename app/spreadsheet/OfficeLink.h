#pragma once

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/Reference.hxx>

#include <memory>
#include <stdexcept>

#include "spreadsheet/OfficeOptions.h"
#include "spreadsheet/OfficeProcess.h"

namespace tarvo::uno {

// The office could not be reached or started; what() says why in the office's or the
// system's words.
class ServerStartError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The desktop of the office listening on the options' pipe. When none listens and `started` is
// given, starts one and waits until it accepts; `started` then holds it, unless the start only
// handed the request to an office that was already running (the user's), which is then not
// ours to end.
css::uno::Reference<css::frame::XDesktop2> connectDesktop(const OfficeOptions& options,
                                                          std::unique_ptr<OfficeProcess>* started);

}  // namespace tarvo::uno

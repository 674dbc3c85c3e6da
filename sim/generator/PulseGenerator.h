#pragma once

#include <deque>
#include <optional>
#include <string>

#include "bench/BenchState.h"

namespace vmesim::generator {

// The bench's pulse generator as its SCPI interface sees it. Commands set the bench state that
// the readout board reads; queries answer with one line. Mnemonics take their short or long form
// without regard to case ("VOLT" or "voltage"), the SOURce node is optional, several commands may
// share a line separated by ";", and numbers may carry the units V, mV, Hz, kHz and MHz.
//
//   *IDN?  *RST  *CLS  *OPC?
//   [SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude] <V>|MIN|MAX|DEF   and ?
//   [SOURce:]VOLTage[:LEVel][:IMMediate]:OFFSet <V>|DEF                and ?
//   [SOURce:]FREQuency[:CW|:FIXed] <Hz>|MIN|MAX|DEF                    and ?
//   OUTPut[:STATe] ON|OFF|1|0                                           and ?
//   SYSTem:ERRor[:NEXT]?
//
// What the generator does not understand goes to its error queue, as on an instrument, and
// changes nothing.
class PulseGenerator {
  public:
    static constexpr const char* kIdentity = "Nimbra,Virtual Pulse Generator,0,1.0";
    static constexpr double kMaxVolts = 5.0;  // amplitude and offset, either sign
    static constexpr double kMinHz = 0.001;
    static constexpr double kMaxHz = 5.0e7;
    static constexpr double kDefaultVolts = 0.1;
    static constexpr double kDefaultHz = 1000.0;

    explicit PulseGenerator(BenchState& bench);

    // Carries out one received line (without its line end). The reply to its queries, if any,
    // is one line without its end.
    std::optional<std::string> execute(const std::string& line);

    // Errors queued since the last read, oldest first ("-113,\"Undefined header\"").
    const std::deque<std::string>& errors() const { return errors_; }

  private:
    std::optional<std::string> executeOne(const std::string& command);
    void reset();
    void queueError(const std::string& error);

    BenchState& bench_;
    std::deque<std::string> errors_;
};

}  // namespace vmesim::generator

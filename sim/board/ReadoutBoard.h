#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "VmeSlave.h"
#include "board/BoardMap.h"
#include "board/BoardOptions.h"
#include "board/FastRng.h"
#include "board/FrontEndConfig.h"
#include "board/SignalModel.h"
#include "board/StreamSource.h"

namespace vmesim::board {

// The readout board in the virtual crate: the register map, configuration loads into the eight
// front ends, the event port with its status word and eight FIFOs, the older stream port, and the
// fault knobs.
//
// Event port protocol, as the board's sequencer runs it: a single read of the port returns the
// status word; while it shows an event ready, block reads deliver that event's words, FIFO 0 to 7
// in order, and the last word frees the board for the next event. A successful status read in
// the middle of an event abandons the rest of it (a reader that dropped a bad event starts clean
// at the next one), and so does any write of Control1 or Control2. Past the end of an event the
// port reads as all ones, which no valid data word is.
//
// The stream port hands out the older layout's blocks word by word, single or block reads alike.
// With an event rate set, blocks come at that rate too, and a read that finds the stream empty
// ends in a bus error, the way the old board ended a block transfer when it ran out of data.
//
// With a bench attached (BenchCoupling.h), the read-out modes are triggered: an event comes when a
// section's discriminator fires, and test pulses come from the bench's generator.
//
// Injected bus errors hit only the data path (status reads and port data), never the control
// registers, and a failed cycle changes nothing: the word it would have carried comes next.
class ReadoutBoard : public VmeSlave {
  public:
    explicit ReadoutBoard(BoardOptions options = {});

    bool claims(uint32_t address, uint32_t am) const override;
    bool read(uint32_t address, uint32_t am, unsigned bytes, Access access,
              uint64_t& value) override;
    bool write(uint32_t address, uint32_t am, unsigned bytes, Access access,
               uint64_t value) override;
    void addStats(std::map<std::string, uint64_t>& counts) const override;

    // SYSRESET returns the sequencer to idle and drops the event on offer. Registers and the
    // front ends keep their contents: a reset between sequence-test steps must not undo the
    // configuration loaded before them.
    void systemReset() { abandonEvent(); }

    struct Counts {
        uint64_t eventsMade = 0;
        uint64_t eventsRead = 0;
        uint64_t busErrorsInjected = 0;
        uint64_t corruptEventsInjected = 0;
        uint64_t configurationLoads = 0;
        uint64_t streamEmptyReads = 0;  // stream reads ended by a bus error for lack of data
    };
    Counts counts() const { return counts_; }

    const FrontEndConfig& frontEnd(unsigned section) const { return frontEnd_[section]; }
    const StreamSource& stream() const { return stream_; }
    // The bench's pulse generator drives the test pulse through this.
    SignalModel& signals() { return signals_; }
    uint32_t base() const { return options_.base; }

    static constexpr uint32_t kEmptyWord = 0xFFFFFFFFu;
    static constexpr uint32_t kBusyStatus = 0xC0000000u;  // converting: bit 31 and 30 set

  private:
    uint64_t now() const;
    bool injectBusError();
    bool takePortWord(uint32_t offset, Access access, uint32_t& word);
    bool readRegister(uint32_t offset, uint32_t& value) const;
    bool writeRegister(uint32_t offset, uint32_t value);
    void softwareTrigger();

    uint32_t readStatus();
    bool eventDue();
    bool triggerDue();
    bool dueOnGrid(uint64_t& nextNs, uint64_t periodNs);
    void makeEvent();
    void corruptOneWord();
    void abandonEvent();
    uint32_t takeEventWord();
    bool takeStreamWord(uint32_t& word);

    BoardOptions options_;
    SignalModel signals_;
    FastRng rng_;
    StreamSource stream_;

    std::array<uint32_t, kSections * kSectionRegisters> taRegisters_{};
    uint32_t hold1_ = 0;
    uint32_t hold2_ = 0;
    uint32_t control1_ = 0;
    uint32_t control2_ = 0;
    uint32_t offsetAdc_ = 32768;
    std::array<FrontEndConfig, kSections> frontEnd_{};

    std::vector<uint32_t> event_;  // the FIFO words of the event on offer, status excluded
    size_t eventPos_ = 0;
    bool eventPending_ = false;
    unsigned tag_ = 0;  // tag of the event on offer, or of the last one
    unsigned corruptionKind_ = 0;

    uint64_t periodNs_ = 0;
    uint64_t nextEventNs_ = 0;
    uint64_t nextBlockNs_ = 0;
    uint64_t nextPulseNs_ = 0;  // the bench generator's pulses
    uint64_t dataAccesses_ = 0;
    Counts counts_;
};

}  // namespace vmesim::board

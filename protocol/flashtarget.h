#pragma once
// What a Program or Verify run needs of the board: the four commands it sends.

#include "protocol/compareresult.h"

#include <QString>

#include <cstdint>

class TFlashTarget {
public:
    virtual ~TFlashTarget() = default;
    virtual bool InitFlash() = 0;
    virtual bool ProgramBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count) = 0;
    virtual bool ResetFlash() = 0;
    virtual bool VerifyBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count,
                             TCompareResult& result) = 0;
    // Why the last command failed, on one line: what the board answered instead (shortened), or that
    // no answer came within the time-out. Empty after a success.
    virtual QString LastFailure() const { return {}; }
    // The last failure was the line's, not the command's (the device hung up, the board sent replies
    // that answer no command): no retry can mend it, and the run ends as a communication failure.
    virtual bool LineFailed() const { return false; }
    // The board answered the last command, but not with its success: it refused it (LastFailure says
    // with what). Sending it again unchanged will most likely be refused again.
    virtual bool BoardRefused() const { return false; }
    // Before a run's first command: what the board sent before it is not part of the run.
    virtual void BeginRun() {}
    // Before a run reports success: true when the board owes nothing and sent nothing unasked.
    virtual bool CloseRun() { return true; }
    // This run, the board may have carried out a command other than the ones it answered (it echoed a
    // changed command): why, or empty. What it holds must be read back before the run can succeed.
    virtual QString MayHaveDoneOther() const { return {}; }
    // A board without echo is matched to its commands by order alone; once an answer came late this
    // run, that order is in doubt: why, or empty. Its results cannot then be taken as they stand.
    virtual QString OrderInDoubt() const { return {}; }
    // Every answer taken this run is known to be its own command's: the board echoes, or a closing
    // ping showed that nothing was left over. A board without echo is matched by order alone.
    virtual bool AnswersInStep() const { return true; }
    // A mismatch the board reported this run in a reply that no command took, when it reads as one.
    virtual bool StrayMismatch(TCompareResult&) const { return false; }
};

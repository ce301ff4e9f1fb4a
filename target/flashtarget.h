#pragma once
// What a Program or Verify run needs of the board: the four commands it sends.

#include "target/compareresult.h"

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
    // Before a run's first command: what the board sent before it is not part of the run.
    virtual void BeginRun() {}
    // Before a run reports success: true when the board owes nothing and sent nothing unasked.
    virtual bool CloseRun() { return true; }
};

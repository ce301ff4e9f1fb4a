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
};

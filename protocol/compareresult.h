#pragma once
#include <cstdint>

// Outcome of one "P VERIFY" exchange; the caller owns it.
struct TCompareResult {
    bool CompareOK = false;
    std::uint32_t Address = 0;
    std::uint16_t Expected = 0;
    std::uint16_t Actual = 0;
};

#pragma once
// Where a simulated history takes its choices from: a seed, or the bytes a fuzzer hands over. The
// same source gives the same history, byte for byte.

#include <cstddef>
#include <cstdint>

class TDecisions {
public:
    virtual ~TDecisions() = default;
    // A number below `n` (n >= 1); 0 once a finite source is used up.
    virtual std::uint32_t Below(std::uint32_t n) = 0;
    // True with the chance given in thousandths. A used-up source says no, so that a short fuzz
    // input is a quiet line, not a broken one.
    bool Chance(std::uint32_t perMille) { return perMille > 0 && Below(1000) >= 1000 - perMille; }
    std::uint32_t Between(std::uint32_t low, std::uint32_t high) { return low + Below(high - low + 1); }
};

// splitmix64: every seed gives a well-mixed stream, and neighbouring seeds unrelated ones.
class TSeededDecisions final : public TDecisions {
public:
    explicit TSeededDecisions(std::uint64_t seed) : FState(seed) {}
    std::uint32_t Below(std::uint32_t n) override;

private:
    std::uint64_t FState;
};

class TByteDecisions final : public TDecisions {
public:
    TByteDecisions(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
    std::uint32_t Below(std::uint32_t n) override;

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

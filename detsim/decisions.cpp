#include "detsim/decisions.h"

std::uint32_t TSeededDecisions::Below(std::uint32_t n) {
    FState += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = FState;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return n <= 1 ? 0 : std::uint32_t((z >> 32) * n >> 32);
}

std::uint32_t TByteDecisions::Below(std::uint32_t n) {
    if (n <= 1)
        return 0;
    // As many bytes as the range needs, so that each byte of the input steers one choice.
    std::uint32_t value = 0;
    for (std::uint32_t span = n - 1; span != 0; span >>= 8) {
        if (FPos == FSize)
            return 0;
        value = value << 8 | FData[FPos++];
    }
    return value % n;
}

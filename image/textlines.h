#pragma once
// The lines of a text image (Intel HEX, S-record), read from its snapshot in pieces as fgets would
// deliver them: LF or CR LF end a line, and a piece longer than a record could be stops the reading.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class TImageBytes;

enum class TLineRead { lrNothing, lrLine, lrTooLong, lrInvalid, lrError };

struct TLineCursor {
    std::uint64_t Offset = 0;
    bool AtEnd = false;      // the last piece reached the end of the file without a line end
    std::uint32_t Ended = 0; // line ends read so far
};

// The next piece: through the first LF, or `maxPiece` characters without one (lrTooLong), or the rest
// of the file. `line` points into the snapshot until the next read; `length` excludes the line end; a
// NUL byte makes the piece lrInvalid.
TLineRead ReadLinePiece(TImageBytes& bytes, TLineCursor& cursor, int maxPiece, const char*& line,
                        int& length);

// The record loop of a text image: each line from `cursor` on goes to `takeLine(line, length)` until it
// returns a value, which is returned; a piece that is not a line ends the loop with `refuse(read)`.
// nullopt when the lines ran out. `lineNumber` is the line being read, for the errors.
template <typename TTakeLine, typename TRefuse>
auto ReadRecordLines(TImageBytes& bytes, TLineCursor& cursor, int maxPiece, std::uint32_t& lineNumber,
                     TTakeLine&& takeLine, TRefuse&& refuse) -> decltype(takeLine("", 0)) {
    while (!cursor.AtEnd) {
        const char* line = nullptr;
        int length = 0;
        lineNumber = cursor.Ended + 1;
        const TLineRead read = ReadLinePiece(bytes, cursor, maxPiece, line, length);
        if (read == TLineRead::lrNothing)
            continue;
        if (read != TLineRead::lrLine)
            return refuse(read);
        if (auto taken = takeLine(line, length))
            return taken;
    }
    return std::nullopt;
}

// The value of a hex digit, or kNoDigit.
constexpr std::uint8_t kNoDigit = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeHexDigitTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& value : table)
        value = kNoDigit;
    for (int i = 0; i < 10; ++i)
        table['0' + i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 6; ++i) {
        table['A' + i] = static_cast<std::uint8_t>(10 + i);
        table['a' + i] = static_cast<std::uint8_t>(10 + i);
    }
    return table;
}
inline constexpr std::array<std::uint8_t, 256> kHexDigitValue = MakeHexDigitTable();

inline std::uint8_t HexDigitValue(char c) {
    return kHexDigitValue[static_cast<unsigned char>(c)];
}

// Decodes `pairs` digit pairs at `text` into `bytes`; false when one is not a hex digit.
bool DecodeHexPairs(const char* text, int pairs, std::uint8_t* bytes);

// The rest of a record longer than the caller's block, delivered on the next calls.
class TRecordRest {
public:
    bool Empty() const { return FData.empty(); }
    void Clear() { FData.clear(); }
    void Take(std::uint32_t address, const std::uint8_t* data, std::size_t count);
    // The next piece, at most `maxLength` bytes (at least 1).
    void Deliver(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                 std::uint16_t maxLength);

private:
    std::vector<std::uint8_t> FData;
    std::size_t FOffset = 0;
    std::uint32_t FAddress = 0;
};

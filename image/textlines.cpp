#include "image/textlines.h"

#include "image/imagesnapshot.h"

#include <algorithm>
#include <cstring>

bool DecodeHexPairs(const char* text, int pairs, std::uint8_t* bytes) {
    // One test at the end: a non-digit's value has high bits that no digit has.
    unsigned invalid = 0;
    for (int i = 0; i < pairs; ++i) {
        const std::uint8_t high = HexDigitValue(text[2 * i]);
        const std::uint8_t low = HexDigitValue(text[2 * i + 1]);
        invalid |= high | low;
        bytes[i] = static_cast<std::uint8_t>(high << 4 | (low & 0x0F));
    }
    return (invalid & 0xF0) == 0;
}

TLineRead ReadLinePiece(TImageBytes& bytes, TLineCursor& cursor, int maxPiece, const char*& line,
                        int& length) {
    length = 0;
    const std::uint64_t left = bytes.Size() - cursor.Offset;
    const std::size_t available = left < std::uint64_t(maxPiece) ? std::size_t(left) : std::size_t(maxPiece);
    if (available == 0) {
        cursor.AtEnd = true;
        return TLineRead::lrNothing;
    }
    const auto* view = reinterpret_cast<const char*>(bytes.View(cursor.Offset, available));
    if (!view)
        return TLineRead::lrError;
    line = view;

    const auto* end = static_cast<const char*>(std::memchr(view, '\n', available));
    std::size_t taken = end ? std::size_t(end - view) + 1 : available;
    cursor.Offset += taken;
    if (end) {
        ++cursor.Ended;
        taken = std::size_t(end - view);
        if (taken > 0 && view[taken - 1] == '\r')
            --taken;
    } else if (available == std::size_t(maxPiece)) {
        return TLineRead::lrTooLong;
    } else {
        cursor.AtEnd = true; // the last line of a file without a line end
    }
    if (std::memchr(view, '\0', end ? std::size_t(end - view) : taken))
        return TLineRead::lrInvalid;
    length = int(taken);
    return TLineRead::lrLine;
}

void TRecordRest::Take(std::uint32_t address, const std::uint8_t* data, std::size_t count) {
    FData.assign(data, data + count);
    FOffset = 0;
    FAddress = address;
}

void TRecordRest::Deliver(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                          std::uint16_t maxLength) {
    const auto count = static_cast<std::uint16_t>(std::min<std::size_t>(FData.size() - FOffset, maxLength));
    address = FAddress + static_cast<std::uint32_t>(FOffset);
    std::memcpy(buffer, FData.data() + FOffset, count);
    length = count;
    FOffset += count;
    if (FOffset == FData.size())
        FData.clear();
}

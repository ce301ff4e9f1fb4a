#include "image/srecfile.h"

#include "image/imagesnapshot.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;
// 'S', type, the count and the 255 bytes it counts as digit pairs, CR and LF.
constexpr int kMaxPieceLength = 2 + 2 * 256 + 2;
constexpr int kMaxRecordBytes = (kMaxPieceLength - 2) / 2;

// Address bytes of each record type; 0 for a type that does not exist (S4).
constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

} // namespace

void TSRecordFile::Reset() {
    Close();
    FStartAddress = 0;
    FTotalSize = 0;
    Rewind();
}

void TSRecordFile::Rewind() {
    FCursor = TLineCursor{};
    FEnded = false;
    FPosition = 0;
    FLineNumber = 0;
    FDataRecords = 0;
    FNextAddress = 0;
    FRest.Clear();
}

THexResult TSRecordFile::ScanImage() {
    Rewind();
    const THexResult result = ReadEveryBlock(FStartAddress);
    FTotalSize = FPosition;
    Rewind();
    return result;
}

THexResult TSRecordFile::ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                  std::uint16_t maxLength) {
    FProblem.clear();
    const THexResult result = ReadRecords(address, buffer, length, maxLength);
    if (result != hrOK && result != hrEndOfFile && result != hrFileNotOpened) {
        FLastFailure = QStringLiteral("%1: line %2").arg(FFileName).arg(FLineNumber);
        if (!FProblem.isEmpty())
            FLastFailure += QStringLiteral(": ") + FProblem;
        else if (!FBytes->Error().isEmpty())
            FLastFailure += QStringLiteral(": ") + FBytes->Error();
    }
    return result;
}

THexResult TSRecordFile::TakeDataRecord(std::uint32_t recordAddress, const std::uint8_t* data, int count) {
    if (count > 0 && std::uint64_t(recordAddress) + count - 1 > kAllOnes)
        return hrBeyondAddressSpace;
    // The board is written in address order: a record may not go back over what came before.
    if (recordAddress < FNextAddress) {
        FProblem =
            QStringLiteral("address 0x%1 lies below the end of the record before").arg(recordAddress, 0, 16);
        return hrNonAscending;
    }
    ++FDataRecords;
    if (count == 0)
        return hrOK;
    FNextAddress = std::uint64_t(recordAddress) + count;
    FRest.Take(recordAddress, data, std::size_t(count));
    return hrOK;
}

THexResult TSRecordFile::DeliverRest(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                     std::uint16_t maxLength) {
    if (maxLength == 0)
        return hrBufferTooSmall;
    FRest.Deliver(address, buffer, length, maxLength);
    FPosition += length;
    return hrOK;
}

THexResult TSRecordFile::ReadRecords(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                     std::uint16_t maxLength) {
    if (!FBytes)
        return hrFileNotOpened;
    length = 0;
    if (!FRest.Empty())
        return DeliverRest(address, buffer, length, maxLength);
    if (FEnded || FCursor.AtEnd)
        return hrEndOfFile;

    const std::optional<THexResult> result = ReadRecordLines(
        *FBytes, FCursor, kMaxPieceLength, FLineNumber,
        [&](const char* line, int lineLength) -> std::optional<THexResult> {
            if (lineLength == 0)
                return std::nullopt; // a blank line, as many tools leave at the end
            return TakeRecord(line, lineLength, address, buffer, length, maxLength);
        },
        [&](TLineRead read) {
            if (read == TLineRead::lrTooLong)
                FProblem = QStringLiteral("longer than any record");
            return hrIllegalRecord;
        });
    return result.value_or(hrEndOfFile);
}

THexResult TSRecordFile::DecodeChecked(const char* line, int lineLength, std::uint8_t* record, int& type) {
    type = lineLength >= 2 && line[0] == 'S' ? line[1] - '0' : -1;
    if (type < 0 || type > 9 || kAddressBytes[type] == 0 || lineLength < 4 || lineLength % 2 != 0) {
        FProblem = QStringLiteral("not an S-record");
        return hrIllegalRecord;
    }
    const int bytes = (lineLength - 2) / 2;
    if (!DecodeHexPairs(line + 2, bytes, record)) {
        FProblem = QStringLiteral("not a hex digit");
        return hrIllegalRecord;
    }
    if (record[0] != bytes - 1 || record[0] < kAddressBytes[type] + 1) {
        FProblem = QStringLiteral("the byte count does not match the record");
        return hrIllegalRecord;
    }
    unsigned sum = 0;
    for (int i = 0; i < bytes; ++i)
        sum += record[i];
    if ((sum & 0xFF) != 0xFF) {
        FProblem = QStringLiteral("checksum error");
        return hrIllegalRecord;
    }
    return hrOK;
}

std::optional<THexResult> TSRecordFile::TakeRecord(const char* line, int lineLength, std::uint32_t& address,
                                                   std::uint8_t* buffer, std::uint16_t& length,
                                                   std::uint16_t maxLength) {
    std::uint8_t record[kMaxRecordBytes];
    int type = -1;
    if (const THexResult checked = DecodeChecked(line, lineLength, record, type); checked != hrOK)
        return checked;
    const int addressBytes = kAddressBytes[type];
    std::uint32_t value = 0;
    for (int i = 0; i < addressBytes; ++i)
        value = value << 8 | record[1 + i];
    // The count takes in the address and the checksum.
    const int dataBytes = record[0] - 1 - addressBytes;
    const std::uint8_t* data = record + 1 + addressBytes;

    switch (type) {
    case 0:
        return std::nullopt;
    case 1:
    case 2:
    case 3:
        if (const THexResult taken = TakeDataRecord(value, data, dataBytes); taken != hrOK)
            return taken;
        if (!FRest.Empty())
            return DeliverRest(address, buffer, length, maxLength);
        return std::nullopt;
    case 5:
    case 6:
        if (dataBytes != 0 || value != FDataRecords) {
            FProblem = QStringLiteral("counts %1 data records, the file has %2 before it")
                           .arg(value)
                           .arg(FDataRecords);
            return hrIllegalRecord;
        }
        return std::nullopt;
    default: // 7, 8, 9: the end, with the start address of the program
        return ReadPastEnd();
    }
}

// Text after the end record is left alone, as ever; records there are a second image (files joined
// end to end) whose bytes would otherwise be dropped without a word.
THexResult TSRecordFile::ReadPastEnd() {
    const std::uint32_t endLine = FLineNumber;
    while (!FCursor.AtEnd) {
        const char* line = nullptr;
        int lineLength = 0;
        FLineNumber = FCursor.Ended + 1;
        const TLineRead read = ReadLinePiece(*FBytes, FCursor, kMaxPieceLength, line, lineLength);
        if (read == TLineRead::lrError)
            return hrIllegalRecord;
        if (read == TLineRead::lrLine && lineLength >= 2 && line[0] == 'S' && line[1] >= '0' &&
            line[1] <= '9') {
            FProblem = QStringLiteral("a record after the end record of line %1 (joined files are not read: "
                                      "keep one end record, at the end)")
                           .arg(endLine);
            return hrIllegalRecord;
        }
    }
    FEnded = true;
    return hrEndOfFile;
}

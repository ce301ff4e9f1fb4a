#include "image/hexfiles.h"

#include "files/systemfiles.h"
#include "image/imagesnapshot.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

namespace {

constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;

// A record line of the strict reader is read in pieces that fit a 200-character buffer with its
// terminator, so a line may hold at most 198 characters before its line end.
constexpr int kLineBufferSize = 200;
constexpr int kMaxPieceLength = kLineBufferSize - 1;
// ':' + 2 digits for each of count, offset(2), type, 255 data bytes and checksum, and a CR
constexpr int kMaxLinearPieceLength = 1 + 2 * (5 + 255) + 2;
constexpr int kMaxRecordBytes = (kMaxLinearPieceLength - 1) / 2;
// ':' + count(2) + offset(4) + type(2) + checksum(2)
constexpr int kMinRecordLength = 11;
// count, offset high, offset low, type: the data begin at this byte of a decoded record
constexpr int kRecordHeaderBytes = 4;
constexpr int kRecordOverheadBytes = kRecordHeaderBytes + 1;
constexpr std::uint32_t kMaxSegmentOffset = 0xFFFF;
constexpr std::uint32_t kMaxWriteSegment = 0xFFFF;
constexpr std::uint16_t kMaxRecordDataBytes = 255;
constexpr std::uint16_t kSizeHeaderBytes = 4;
constexpr std::uint16_t kScanBlockLength = 200;
// Above this address a writer with linear records uses record 04; below it, 02 as ever.
constexpr std::uint32_t kSegmentReach = 0x100000;

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// Checks the start code, the digits and the checksum, and decodes the digit pairs into `record`
// (count, offset, type, data, checksum). Returns the number of bytes, or -1 with the rule broken.
int DecodeRecord(const char* line, int length, std::uint8_t* record, const char*& rule) {
    if (length == 0 || line[0] != ':')
        rule = "a record starts with ':'";
    else if (length < kMinRecordLength)
        rule = "shorter than any record";
    else if ((length - 1) % 2 != 0)
        rule = "an odd number of digits";
    else if (!DecodeHexPairs(line + 1, (length - 1) / 2, record))
        rule = "not a hex digit";
    if (rule != nullptr)
        return -1;
    const int byteCount = (length - 1) / 2;
    unsigned sum = 0;
    for (int i = 0; i < byteCount; ++i)
        sum += record[i];
    if ((sum & 0xFF) != 0) {
        rule = "checksum error";
        return -1;
    }
    return byteCount;
}

std::uint16_t Word(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

// What a pass can meet only in an image that differs from the one measured.
bool IsImageFault(THexResult result) {
    return result != hrOK && result != hrEndOfFile && result != hrBufferTooSmall &&
           result != hrFileNotOpened && result != hrImageChanged;
}

} // namespace

QString HexFileErrorMessage(int code) {
    switch (code) {
    case hrOK:
        return QString();
    case hrFileNotOpened:
        return QStringLiteral("File not opened.");
    case hrFileAlreadyOpen:
        return QStringLiteral("File already open");
    case hrCannotOpenFile:
        return QStringLiteral("Cannot open file.");
    case hrFileAlreadyExists:
        return QStringLiteral("File already exist.");
    case hrEndOfFile:
        return QStringLiteral("Trying to read past end of file.");
    case hrIllegalRecord:
        return QStringLiteral("Illegal record in file.");
    case hrBufferTooSmall:
        return QStringLiteral("Internal error - buffer too small.");
    case hrNonAscending:
        return QStringLiteral("Illegal file - non ascending addresses.");
    case hrEraseFailed:
        return QStringLiteral("Erase Sector Operation failed.");
    case hrImageChanged:
        return QStringLiteral("Image file changed while it was being sent.");
    case hrBeyondAddressSpace:
        return QStringLiteral("Image runs past the highest address, 0xFFFFFFFF.");
    case hrUnknownFormat:
        return QStringLiteral("Image file format not recognised.");
    case hrNotAsNamed:
        return QStringLiteral("Image file is not what its name says.");
    default:
        return QStringLiteral("Unknown error - code no. %1").arg(code);
    }
}

// ---------------------------------------------------------------------------------------------
// TAbsoluteHexFile

void TAbsoluteHexFile::TFileCloser::operator()(std::FILE* f) const {
    std::fclose(f);
}

TAbsoluteHexFile::TAbsoluteHexFile() = default;
TAbsoluteHexFile::~TAbsoluteHexFile() = default;

THexResult TAbsoluteHexFile::Close() {
    FBytes.reset();
    FMeasured = false;
    std::FILE* stream = FFile.release();
    const bool writing = FWriting;
    FWriting = false;
    if (!stream)
        return hrOK;
    // Buffered data reach the disk only here: a full disk must not pass for a written image.
    if (std::fclose(stream) != 0 && writing)
        return hrCannotOpenFile;
    return hrOK;
}

std::shared_ptr<TImageSnapshot> TAbsoluteHexFile::Snapshot() const {
    return FBytes ? FBytes->SnapshotShared() : nullptr;
}

THexResult TAbsoluteHexFile::OpenSnapshot(std::shared_ptr<TImageSnapshot> snapshot) {
    if (IsOpen())
        return hrFileAlreadyOpen;
    Reset();
    FFileName = snapshot->FileName();
    FLastFailure.clear();
    FAdvice = TFormatAdvice::None;
    FNote.clear();
    FBytes = TImageBytes::Open(std::move(snapshot), FLastFailure);
    if (!FBytes)
        return hrCannotOpenFile;
    const THexResult result = Scan();
    // A file too large to hold is read again by each board and pass: each must find what the first
    // measured, and a fault the first did not meet means the file changed, not that it was bad.
    TImageSnapshot& taken = FBytes->Snapshot();
    if (result == hrOK && !taken.SameAsFirstMeasure(FMeasuredFingerprint))
        return hrImageChanged;
    if (IsImageFault(result) && taken.MeasuredBefore())
        return hrImageChanged;
    return result;
}

THexResult TAbsoluteHexFile::OpenStream(const QString& fileName, std::uint8_t mode, bool overwrite,
                                        bool binary) {
    if (IsOpen())
        return hrFileAlreadyOpen;
    Reset();
    FFileName = fileName;
    FLastFailure.clear();
    FAdvice = TFormatAdvice::None;

    switch (mode) {
    case hmProgram:
    case hmVerify: {
        // Only a regular file will do: a directory, pipe or device would yield nothing, or something
        // else, on the second pass; nothing blocks on a named pipe.
        std::shared_ptr<TImageSnapshot> snapshot = TImageSnapshot::Take(fileName, FLastFailure);
        if (!snapshot)
            return hrCannotOpenFile;
        return OpenSnapshot(std::move(snapshot));
    }
    case hmWrite:
        if (overwrite) {
            FFile.reset(OpenFileStream(fileName, binary ? "wb" : "w"));
            FWriting = FFile != nullptr;
            return FFile ? hrOK : hrCannotOpenFile;
        }
        // Only a probe: the caller asks before overwriting and opens again to write.
        if (std::unique_ptr<std::FILE, TFileCloser> probe{OpenFileStream(fileName, binary ? "rb" : "r")})
            return hrFileAlreadyExists;
        return hrOK;
    default:
        return hrOK;
    }
}

THexResult TAbsoluteHexFile::Scan() {
    FMeasured = false;
    FDataSize = 0;
    FFingerprint = kFingerprintSeed;
    FNextAddress = 0;
    if (FBytes)
        FBytes->Forget();
    // Open for reading: its own bytes, or (auto-detection) those of the reader it passes on to.
    const THexResult result = IsOpen() && !FFile ? ScanImage() : THexResult(hrFileNotOpened);
    if (FBytes)
        FBytes->Forget();
    FMeasuredFingerprint = FFingerprint;
    FFingerprint = kFingerprintSeed;
    FNextAddress = 0;
    FMeasured = result == hrOK;
    return result;
}

THexResult TAbsoluteHexFile::ReadEveryBlock(std::uint32_t& firstAddress) {
    firstAddress = kAllOnes;
    std::uint8_t block[kScanBlockLength];
    bool found = false;
    THexResult result = hrOK;
    do {
        std::uint32_t address = 0;
        std::uint16_t length = 0;
        result = ReadBlock(address, block, length, sizeof block);
        if (length > 0 && !found) {
            firstAddress = address;
            found = true;
        }
    } while (result == hrOK);
    return result == hrEndOfFile ? THexResult(hrOK) : result;
}

THexResult TAbsoluteHexFile::MeasureStreamedBlocks() {
    if (!FBytes->Streamed())
        return hrOK;
    std::uint32_t firstAddress = 0;
    return ReadEveryBlock(firstAddress);
}

THexResult TAbsoluteHexFile::ReadBlock(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                       std::uint16_t maxLength) {
    THexResult result = ReadNext(address, buffer, length, maxLength);
    if (!FMeasured && length > 0 && (result == hrOK || result == hrEndOfFile))
        FDataSize += length;
    // Held in memory, the image cannot change; read again from the file, it is checked block by block.
    if (FBytes && FBytes->Streamed()) {
        // The blocks' bytes and where they jump: the same whatever length the caller reads in.
        if (result == hrOK && length > 0) {
            FFingerprint = FingerprintBlock(FFingerprint, address != FNextAddress, address, buffer, length);
            FNextAddress = std::uint64_t(address) + length;
        }
        if (FMeasured && result == hrEndOfFile && FFingerprint != FMeasuredFingerprint)
            result = hrImageChanged;
    }
    // The pre-scan read every record of this image without a fault.
    if (FMeasured && IsImageFault(result))
        result = hrImageChanged;
    return result;
}

// ---------------------------------------------------------------------------------------------
// TIntelExtendedHexFile

TIntelExtendedHexFile::TIntelExtendedHexFile(bool linearRecords) : FLinearRecords(linearRecords) {}

THexResult TIntelExtendedHexFile::Open(const QString& fileName, std::uint8_t mode, bool overwrite) {
    return OpenStream(fileName, mode, overwrite, false);
}

void TIntelExtendedHexFile::Reset() {
    Close();
    FStartAddress = 0;
    FEntryAddress = kAllOnes;
    Rewind();
}

void TIntelExtendedHexFile::Rewind() {
    FPosition = 0;
    FSegmentBase = 0;
    FLastAddress = 0;
    FDataEnd = 0;
    FProblem.clear();
    FLineNumber = 0;
    FLinearRefused = false;
    FWritePage = kAllOnes;
    FCursor = TLineCursor{};
    FRest.Clear();
}

THexResult TIntelExtendedHexFile::ScanImage() {
    Rewind();
    FEntryAddress = kAllOnes;
    const THexResult result = ReadEveryBlock(FStartAddress);
    FTotalSize = FPosition;
    const bool refused = FLinearRefused;
    Rewind();
    FLinearRefused = refused;
    return result;
}

THexResult TIntelExtendedHexFile::ReadNext(std::uint32_t& address, std::uint8_t* buffer,
                                           std::uint16_t& length, std::uint16_t maxLength) {
    const THexResult result = ReadRecords(address, buffer, length, maxLength);
    if (result != hrOK && result != hrEndOfFile && result != hrFileNotOpened) {
        FLastFailure = QStringLiteral("%1: line %2").arg(FFileName).arg(FLineNumber);
        if (!FProblem.isEmpty())
            FLastFailure += QStringLiteral(": ") + FProblem;
        else if (FBytes && !FBytes->Error().isEmpty())
            FLastFailure += QStringLiteral(": ") + FBytes->Error();
        if (FLinearRefused)
            FAdvice = TFormatAdvice::LinearRecords;
    }
    return result;
}

// Lines after the end record are left unread, as ever, unless they hold data: a data record there is
// a second image (files joined end to end) whose bytes would be dropped without a word.
THexResult TIntelExtendedHexFile::ReadPastEnd(int maxPiece) {
    const std::uint32_t endLine = FLineNumber;
    std::uint8_t record[kMaxRecordBytes];
    while (!FCursor.AtEnd) {
        const char* line = nullptr;
        int lineLength = 0;
        FLineNumber = FCursor.Ended + 1;
        const TLineRead read = ReadLinePiece(*FBytes, FCursor, maxPiece, line, lineLength);
        if (read == TLineRead::lrError)
            return hrIllegalRecord;
        const char* rule = nullptr;
        if (read != TLineRead::lrLine || DecodeRecord(line, lineLength, record, rule) < 0)
            continue;
        if (record[3] == 0x00 && record[0] > 0)
            return Illegal(
                QStringLiteral("a data record after the end record of line %1 (joined files are not "
                               "read: keep one end record, at the end)")
                    .arg(endLine));
    }
    return hrEndOfFile;
}

THexResult TIntelExtendedHexFile::Illegal(QString rule) {
    FProblem = std::move(rule);
    return hrIllegalRecord;
}

THexResult TIntelExtendedHexFile::ReadRecords(std::uint32_t& address, std::uint8_t* buffer,
                                              std::uint16_t& length, std::uint16_t maxLength) {
    if (!FBytes)
        return hrFileNotOpened;
    length = 0;
    if (!FRest.Empty()) {
        if (maxLength == 0)
            return hrBufferTooSmall;
        FRest.Deliver(address, buffer, length, maxLength);
        return hrOK;
    }
    if (FCursor.AtEnd)
        return hrEndOfFile;

    const int maxPiece = FLinearRecords ? kMaxLinearPieceLength : kMaxPieceLength;
    FProblem.clear();
    // Records without data (02..05) are read past, on to the next that has some.
    const std::optional<THexResult> result = ReadRecordLines(
        *FBytes, FCursor, maxPiece, FLineNumber,
        [&](const char* line, int lineLength) -> std::optional<THexResult> {
            const THexResult taken =
                TakeRecord(line, lineLength, maxPiece, address, buffer, length, maxLength);
            if (taken == hrOK && length == 0)
                return std::nullopt;
            return taken;
        },
        [&](TLineRead read) { return LineRefused(read, maxPiece); });
    return result.value_or(hrOK);
}

THexResult TIntelExtendedHexFile::LineRefused(TLineRead read, int maxPiece) {
    if (read == TLineRead::lrTooLong)
        return Illegal(QStringLiteral("longer than %1 characters").arg(maxPiece - 1));
    if (read == TLineRead::lrInvalid)
        return Illegal(QStringLiteral("a NUL byte in the line"));
    return hrIllegalRecord;
}

THexResult TIntelExtendedHexFile::DecodeChecked(const char* line, int lineLength, std::uint8_t* record) {
    const char* rule = nullptr;
    const int recordBytes = DecodeRecord(line, lineLength, record, rule);
    if (recordBytes < 0)
        return Illegal(QLatin1String(rule));
    const int dataBytes = recordBytes - kRecordOverheadBytes;
    const int type = record[3];
    if (record[0] != dataBytes)
        return Illegal(
            QStringLiteral("the byte count says %1, the record holds %2").arg(record[0]).arg(dataBytes));
    // 02 and 04 hold two bytes (a segment, the upper address bits), 03 and 05 four (an entry point):
    // any other count would take the value from the checksum or beyond it.
    const int fixedCount = type == 0x02 || type == 0x04 ? 2 : type == 0x03 || type == 0x05 ? 4 : -1;
    if (fixedCount >= 0 && dataBytes != fixedCount)
        return Illegal(QStringLiteral("a record %1 must hold %2 bytes, this one holds %3")
                           .arg(type, 2, 16, QLatin1Char('0'))
                           .arg(fixedCount)
                           .arg(dataBytes));
    return hrOK;
}

THexResult TIntelExtendedHexFile::TakeRecord(const char* line, int lineLength, int maxPiece,
                                             std::uint32_t& address, std::uint8_t* buffer,
                                             std::uint16_t& length, std::uint16_t maxLength) {
    std::uint8_t record[kMaxRecordBytes];
    if (const THexResult checked = DecodeChecked(line, lineLength, record); checked != hrOK)
        return checked;
    const std::uint8_t* data = record + kRecordHeaderBytes;
    const int type = record[3];
    switch (type) {
    case 0x00:
        return ParseDataRecord(record, address, buffer, length, maxLength);
    case 0x01:
        return ReadPastEnd(maxPiece);
    case 0x02:
        FSegmentBase = static_cast<std::uint32_t>(Word(data)) * 16;
        return hrOK;
    case 0x03:
        FEntryAddress = static_cast<std::uint32_t>(Word(data)) * 16 + Word(data + 2);
        return hrOK;
    // 04 replaces the base as 02 does, with the upper 16 bits of a 32-bit address; 05 (the entry
    // point of a 32-bit program) does not concern the FLASH.
    case 0x04:
    case 0x05:
        FLinearRefused = !FLinearRecords;
        if (FLinearRefused)
            return Illegal(QStringLiteral("record %1 is not taken by the reader of records 00-03")
                               .arg(type, 2, 16, QLatin1Char('0')));
        if (type == 0x04)
            FSegmentBase = static_cast<std::uint32_t>(Word(data)) << 16;
        return hrOK;
    default:
        return Illegal(QStringLiteral("unknown record type %1").arg(type, 2, 16, QLatin1Char('0')));
    }
}

THexResult TIntelExtendedHexFile::ParseDataRecord(const std::uint8_t* record, std::uint32_t& address,
                                                  std::uint8_t* buffer, std::uint16_t& length,
                                                  std::uint16_t maxLength) {
    // A plain sum: the offset does not wrap at 64 KiB.
    const std::uint64_t wide = std::uint64_t(Word(record + 1)) + FSegmentBase;
    if (record[0] > 0 && wide + record[0] - 1 > kAllOnes)
        return hrBeyondAddressSpace;
    address = static_cast<std::uint32_t>(wide);
    if (address > FLastAddress) {
        if (FLastAddress != 0)
            FPosition += address - FLastAddress;
        FLastAddress = address;
    }
    if (address < FLastAddress) {
        FProblem = QStringLiteral("address 0x%1 lies below the record before (addresses must ascend)")
                       .arg(address, 0, 16);
        return hrNonAscending;
    }
    // Two records for the same bytes: which one the board keeps is no rule of the format.
    if (record[0] > 0 && address < FDataEnd) {
        FProblem = QStringLiteral("records overlap at 0x%1").arg(address, 0, 16);
        return hrNonAscending;
    }
    if (record[0] > 0)
        FDataEnd = wide + record[0];

    std::uint16_t count = record[0];
    FPosition += count;
    if (FLinearRecords && count > maxLength) {
        if (maxLength == 0)
            return hrBufferTooSmall;
        FRest.Take(address, record + kRecordHeaderBytes, count);
        FRest.Deliver(address, buffer, length, maxLength);
        return hrOK;
    }
    THexResult result = hrOK;
    if (count >= maxLength && !FLinearRecords) {
        count = maxLength;
        result = hrBufferTooSmall;
    }
    std::memcpy(buffer, record + kRecordHeaderBytes, count);
    length = count;
    return result;
}

THexResult TIntelExtendedHexFile::WriteBlock(std::uint32_t address, const std::uint8_t* data,
                                             std::uint16_t length) {
    if (!FFile)
        return hrFileNotOpened;
    if (FLinearRecords && length <= kMaxRecordDataBytes && std::uint64_t(address) + length > kSegmentReach)
        return WriteLinearBlock(address, data, length);
    // Neither a longer record nor a segment above 0xFFFF can be written in this format.
    if (length > kMaxRecordDataBytes || (address >> 4) > kMaxWriteSegment)
        return hrIllegalRecord;

    const std::uint32_t offset = address - FSegmentBase * 16;
    // The last test keeps every record inside its segment: readers differ on whether an offset
    // that runs past 0xFFFF wraps, and then they would not agree on the addresses.
    if (address != FLastAddress || offset > kMaxSegmentOffset ||
        (length > 0 && offset + length - 1 > kMaxSegmentOffset)) {
        FSegmentBase = address >> 4;
        FWritePage = kAllOnes;
        const std::uint8_t segment[2] = {static_cast<std::uint8_t>(FSegmentBase >> 8),
                                         static_cast<std::uint8_t>(FSegmentBase)};
        if (!WriteRecord(0x02, 0, segment, sizeof segment))
            return hrCannotOpenFile;
        FLastAddress = address;
    }

    if (!WriteRecord(0x00, static_cast<std::uint16_t>(address - FSegmentBase * 16), data,
                     static_cast<std::uint8_t>(length)))
        return hrCannotOpenFile;
    FLastAddress = address + length;
    return hrOK;
}

THexResult TIntelExtendedHexFile::WriteLinearBlock(std::uint32_t address, const std::uint8_t* data,
                                                   std::uint16_t length) {
    if (std::uint64_t(address) + length - 1 > kAllOnes)
        return hrBeyondAddressSpace;
    // A record stays inside its 64 KiB page: split one that would cross into the next.
    const std::uint32_t room = kMaxSegmentOffset - (address & kMaxSegmentOffset) + 1;
    if (length > room) {
        const THexResult first = WriteLinearBlock(address, data, static_cast<std::uint16_t>(room));
        return first != hrOK
                   ? first
                   : WriteLinearBlock(address + room, data + room, static_cast<std::uint16_t>(length - room));
    }
    const std::uint32_t upper = address >> 16;
    if (FWritePage != upper) {
        const std::uint8_t page[2] = {static_cast<std::uint8_t>(upper >> 8),
                                      static_cast<std::uint8_t>(upper)};
        if (!WriteRecord(0x04, 0, page, sizeof page))
            return hrCannotOpenFile;
        FWritePage = upper;
    }
    if (!WriteRecord(0x00, static_cast<std::uint16_t>(address & kMaxSegmentOffset), data,
                     static_cast<std::uint8_t>(length)))
        return hrCannotOpenFile;
    FLastAddress = address + length;
    return hrOK;
}

bool TIntelExtendedHexFile::WriteRecord(std::uint8_t type, std::uint16_t offset, const std::uint8_t* data,
                                        std::uint8_t count) {
    // ':' + 2 digits for each of count, offset, type, data and checksum + LF
    char line[1 + 2 * (kRecordOverheadBytes + kMaxRecordDataBytes) + 1];
    int length = 0;
    unsigned sum = 0;
    auto put = [&](std::uint8_t byte) {
        line[length++] = kUpperHexDigits[byte >> 4];
        line[length++] = kUpperHexDigits[byte & 0x0F];
        sum += byte;
    };
    line[length++] = ':';
    put(count);
    put(static_cast<std::uint8_t>(offset >> 8));
    put(static_cast<std::uint8_t>(offset));
    put(type);
    for (int i = 0; i < count; ++i)
        put(data[i]);
    put(static_cast<std::uint8_t>(-sum));
    line[length++] = '\n';
    return std::fwrite(line, 1, length, FFile.get()) == static_cast<std::size_t>(length) &&
           !std::ferror(FFile.get());
}

// ---------------------------------------------------------------------------------------------
// TReadOnlyImageFile

THexResult TReadOnlyImageFile::Open(const QString& fileName, std::uint8_t mode, bool overwrite) {
    if (mode != hmProgram && mode != hmVerify)
        return hrCannotOpenFile;
    return OpenStream(fileName, mode, overwrite, true);
}

THexResult TReadOnlyImageFile::WriteBlock(std::uint32_t, const std::uint8_t*, std::uint16_t) {
    return hrFileNotOpened;
}

// ---------------------------------------------------------------------------------------------
// TBinaryDataHexFile

TBinaryDataHexFile::TBinaryDataHexFile(std::uint32_t startAddress, bool writeSizeHeader)
    : FWriteSizeHeader(writeSizeHeader) {
    FStartAddress = startAddress;
}

THexResult TBinaryDataHexFile::Open(const QString& fileName, std::uint8_t mode, bool overwrite) {
    return OpenStream(fileName, mode, overwrite, true);
}

void TBinaryDataHexFile::Reset() {
    Close();
    FPosition = 0;
    FTotalSize = 0;
    FAtEnd = false;
}

THexResult TBinaryDataHexFile::ScanImage() {
    FPosition = 0;
    FTotalSize = 0;
    FAtEnd = false;
    const std::uint64_t size = FBytes->Size();
    // The size header and the progress measure have 32 bits.
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        FLastFailure = QStringLiteral("%1: %2").arg(FFileName, QString::fromLocal8Bit(std::strerror(EFBIG)));
        return hrCannotOpenFile;
    }
    // A block command carries a 32-bit address: the image must not run past it (and wrap to 0).
    const std::uint64_t end = std::uint64_t(FStartAddress) + (FWriteSizeHeader ? kSizeHeaderBytes : 0) + size;
    if (end > std::uint64_t(std::numeric_limits<std::uint32_t>::max()) + 1) {
        FLastFailure = QStringLiteral("%1: its last byte would lie at 0x%2")
                           .arg(FFileName, QString::number(end - 1, 16).toUpper());
        return hrBeyondAddressSpace;
    }
    FTotalSize = static_cast<std::uint32_t>(size);
    const THexResult measured = MeasureStreamedBlocks();
    FDataSize = std::uint64_t(size) + (FWriteSizeHeader ? kSizeHeaderBytes : 0);
    FPosition = 0;
    FAtEnd = false;
    return measured;
}

THexResult TBinaryDataHexFile::ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                        std::uint16_t maxLength) {
    if (!FBytes)
        return hrFileNotOpened;
    length = 0;
    address = FStartAddress + FPosition;
    const bool sizeHeaderNow = FWriteSizeHeader && FPosition == 0;
    // Later blocks follow the four header bytes.
    if (FWriteSizeHeader && !sizeHeaderNow)
        address += kSizeHeaderBytes;
    if (FAtEnd)
        return hrEndOfFile;
    // The first block must also take file data, or the header would come again on every call.
    if (maxLength == 0 || (sizeHeaderNow && maxLength <= kSizeHeaderBytes))
        return hrBufferTooSmall;

    if (sizeHeaderNow) {
        for (int i = 0; i < kSizeHeaderBytes; ++i)
            buffer[i] = static_cast<std::uint8_t>(FTotalSize >> (8 * i));
        length = kSizeHeaderBytes;
    }

    // As with a stream, the end of the file is met only by a read that asks for more bytes than are
    // left, so the end is reported one call after that read.
    const std::size_t wanted = maxLength - length;
    const std::uint64_t left = FBytes->Size() - std::min<std::uint64_t>(FPosition, FBytes->Size());
    const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, left));
    const std::uint8_t* data = FBytes->View(FPosition, got);
    if (!data) {
        FLastFailure = QStringLiteral("%1: %2").arg(FFileName, FBytes->Error());
        return hrIllegalRecord;
    }
    std::memcpy(buffer + length, data, got);
    FAtEnd = got < wanted;
    length = static_cast<std::uint16_t>(length + got);
    FPosition += static_cast<std::uint32_t>(got);
    return hrOK;
}

THexResult TBinaryDataHexFile::WriteBlock(std::uint32_t /*address*/, const std::uint8_t* data,
                                          std::uint16_t length) {
    if (!FFile)
        return hrFileNotOpened;
    if (std::fwrite(data, 1, length, FFile.get()) != length || std::ferror(FFile.get()))
        return hrCannotOpenFile;
    return hrOK;
}

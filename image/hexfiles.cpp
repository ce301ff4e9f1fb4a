#include "image/hexfiles.h"

#include "files/systemfiles.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;

// A record line is read in pieces that fit a 200-character buffer with its terminator, so a line
// may hold at most 198 characters before its line end.
constexpr int kLineBufferSize = 200;
constexpr int kMaxPieceLength = kLineBufferSize - 1;
constexpr int kMaxRecordBytes = (kMaxPieceLength - 1) / 2;
// ':' + count(2) + offset(4) + type(2) + checksum(2)
constexpr int kMinRecordLength = 11;
// count, offset high, offset low, type: the data begin at this byte of a decoded record
constexpr int kRecordHeaderBytes = 4;
constexpr int kRecordOverheadBytes = kRecordHeaderBytes + 1;
constexpr std::uint32_t kMaxSegmentOffset = 0xFFFF;
constexpr std::uint32_t kMaxWriteSegment = 0xFFFF;
constexpr std::uint16_t kMaxRecordDataBytes = 255;
constexpr std::uint16_t kSizeHeaderBytes = 4;

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
constexpr std::array<std::uint8_t, 256> kHexDigitValue = MakeHexDigitTable();
constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// How one attempt to read a line ended.
enum class TLineRead { lrNothing, lrLine, lrTooLong, lrInvalid, lrError };

// Reads the next line into `line` as a text-mode stream delivers it: LF or CR LF end it. At most
// kMaxPieceLength characters are taken; a piece that fills them without a line end belongs to a line
// that cannot be a record. `length` excludes the line end; `ended` tells whether one was read.
TLineRead ReadLinePiece(std::FILE* stream, char* line, int& length, bool& ended) {
    length = 0;
    ended = false;
    // A non-zero fill tells the terminator that fgets writes from NUL bytes in the data.
    std::memset(line, 0x7F, kLineBufferSize);
    if (!std::fgets(line, kLineBufferSize, stream))
        return std::ferror(stream) ? TLineRead::lrError : TLineRead::lrNothing;
    if (std::ferror(stream))
        return TLineRead::lrError;

    int count = static_cast<int>(std::strlen(line));
    ended = std::memchr(line, '\n', kLineBufferSize - 1) != nullptr;
    if (count > 0 && line[count - 1] == '\n') {
        // fgets stops at the first LF, so a NUL byte would have cut the text before it.
        --count;
        if (count > 0 && line[count - 1] == '\r')
            --count;
        length = count;
        return TLineRead::lrLine;
    }

    int terminator = kLineBufferSize - 1;
    while (line[terminator] != '\0')
        --terminator;
    if (terminator != count)
        return TLineRead::lrInvalid; // a NUL byte inside the line
    // The line has 199 characters or more. (Were it 198 followed by CR LF, as text mode allows, it
    // would still fail: a record line always has an odd number of characters.)
    if (count == kMaxPieceLength)
        return TLineRead::lrTooLong;
    // The last line of a file without a line end.
    length = count;
    return count == 0 ? TLineRead::lrNothing : TLineRead::lrLine;
}

// Checks the start code, the digits and the checksum, and decodes the digit pairs into `record`
// (count, offset, type, data, checksum). Returns the number of bytes, or -1 for an invalid line.
int DecodeRecord(const char* line, int length, std::uint8_t* record) {
    if (length < kMinRecordLength || line[0] != ':' || (length - 1) % 2 != 0)
        return -1;
    const int byteCount = (length - 1) / 2;
    unsigned sum = 0;
    for (int i = 0; i < byteCount; ++i) {
        const std::uint8_t high = kHexDigitValue[static_cast<unsigned char>(line[1 + 2 * i])];
        const std::uint8_t low = kHexDigitValue[static_cast<unsigned char>(line[2 + 2 * i])];
        if (high == kNoDigit || low == kNoDigit)
            return -1;
        record[i] = static_cast<std::uint8_t>(high << 4 | low);
        sum += record[i];
    }
    return (sum & 0xFF) == 0 ? byteCount : -1;
}

std::uint16_t Word(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

QString SystemReason() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// fopen with the name in the system's own bytes; the descriptor is not inherited by children.
std::FILE* OpenFile(const QString& fileName, const char* mode) {
    const std::string modeText = std::string(mode) + "e";
    return std::fopen(SystemFileName(fileName).constData(), modeText.c_str());
}

// Images are read twice (pre-scan, then the operation), so only a regular file will do: a
// directory, pipe or device would yield nothing, or something else, on the second pass. Nothing
// blocks: opening a named pipe would otherwise wait for a writer forever.
std::FILE* OpenImageForReading(const QString& fileName, const char* mode, QString& reason) {
    const int fd = OpenRegularFileForReading(fileName, reason);
    if (fd < 0)
        return nullptr;
    std::FILE* stream = fdopen(fd, mode);
    if (!stream) {
        reason = SystemReason();
        ::close(fd);
    }
    return stream;
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
    default:
        return QStringLiteral("Unknown error - code no. %1").arg(code);
    }
}

// ---------------------------------------------------------------------------------------------
// TAbsoluteHexFile

void TAbsoluteHexFile::TFileCloser::operator()(std::FILE* f) const {
    std::fclose(f);
}

TAbsoluteHexFile::~TAbsoluteHexFile() = default;

THexResult TAbsoluteHexFile::Close() {
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

THexResult TAbsoluteHexFile::OpenStream(const QString& fileName, std::uint8_t mode, bool overwrite,
                                        bool binary) {
    if (FFile)
        return hrFileAlreadyOpen;
    Reset();
    FFileName = fileName;
    FErrorDetail.clear();

    switch (mode) {
    case hmProgram:
    case hmVerify: {
        QString reason;
        FFile.reset(OpenImageForReading(fileName, binary ? "rb" : "r", reason));
        if (!FFile) {
            FErrorDetail = QStringLiteral("%1: %2").arg(fileName, reason);
            return hrCannotOpenFile;
        }
        return Scan();
    }
    case hmWrite:
        if (overwrite) {
            FFile.reset(OpenFile(fileName, binary ? "wb" : "w"));
            FWriting = FFile != nullptr;
            return FFile ? hrOK : hrCannotOpenFile;
        }
        // Only a probe: the caller asks before overwriting and opens again to write.
        if (std::unique_ptr<std::FILE, TFileCloser> probe{OpenFile(fileName, binary ? "rb" : "r")})
            return hrFileAlreadyExists;
        return hrOK;
    default:
        return hrOK;
    }
}

// ---------------------------------------------------------------------------------------------
// TIntelExtendedHexFile

THexResult TIntelExtendedHexFile::Open(const QString& fileName, std::uint8_t mode, bool overwrite) {
    return OpenStream(fileName, mode, overwrite, false);
}

void TIntelExtendedHexFile::Reset() {
    Close();
    FStartAddress = 0;
    FEntryAddress = kAllOnes;
    FPosition = 0;
    FSegmentBase = 0;
    FLastAddress = 0;
    FLinesEnded = 0;
    FLineNumber = 0;
}

THexResult TIntelExtendedHexFile::Scan() {
    if (!FFile)
        return hrFileNotOpened;
    FStartAddress = kAllOnes;
    FEntryAddress = kAllOnes;
    FPosition = 0;
    FSegmentBase = 0;
    FLastAddress = 0;

    std::uint8_t block[kLineBufferSize];
    bool startFound = false;
    FDataSize = 0;
    THexResult result;
    do {
        std::uint32_t address = 0;
        std::uint16_t length = 0;
        result = ReadBlock(address, block, length, sizeof block);
        FDataSize += length;
        if (length > 0 && !startFound) {
            FStartAddress = address;
            startFound = true;
        }
    } while (result == hrOK);

    if (result == hrEndOfFile)
        result = hrOK;
    FTotalSize = FPosition;

    std::rewind(FFile.get());
    FPosition = 0;
    FSegmentBase = 0;
    FLastAddress = 0;
    FLinesEnded = 0;
    return result;
}

THexResult TIntelExtendedHexFile::ReadBlock(std::uint32_t& address, std::uint8_t* buffer,
                                            std::uint16_t& length, std::uint16_t maxLength) {
    const THexResult result = ReadRecords(address, buffer, length, maxLength);
    if (result != hrOK && result != hrEndOfFile && result != hrFileNotOpened)
        FErrorDetail = QStringLiteral("%1: line %2").arg(FFileName).arg(FLineNumber);
    return result;
}

THexResult TIntelExtendedHexFile::ReadRecords(std::uint32_t& address, std::uint8_t* buffer,
                                              std::uint16_t& length, std::uint16_t maxLength) {
    if (!FFile)
        return hrFileNotOpened;
    std::FILE* stream = FFile.get();
    length = 0;
    if (std::feof(stream))
        return hrEndOfFile;

    char line[kLineBufferSize];
    std::uint8_t record[kMaxRecordBytes];
    THexResult result = hrOK;
    while (length == 0 && result == hrOK && !std::feof(stream)) {
        int lineLength = 0;
        bool ended = false;
        const TLineRead read = ReadLinePiece(stream, line, lineLength, ended);
        FLineNumber = FLinesEnded + 1;
        FLinesEnded += ended ? 1 : 0;
        switch (read) {
        case TLineRead::lrNothing:
            continue;
        case TLineRead::lrError:
        case TLineRead::lrTooLong:
        case TLineRead::lrInvalid:
            return hrIllegalRecord;
        case TLineRead::lrLine:
            break;
        }

        const int recordBytes = DecodeRecord(line, lineLength, record);
        if (recordBytes < 0)
            return hrIllegalRecord;
        const int dataBytes = recordBytes - kRecordOverheadBytes;
        const std::uint8_t* data = record + kRecordHeaderBytes;

        switch (record[3]) {
        case 0x00:
            if (record[0] != dataBytes)
                return hrIllegalRecord;
            result = ParseDataRecord(record, address, buffer, length, maxLength);
            break;
        case 0x01:
            result = hrEndOfFile;
            break;
        // Types 02 and 03: the byte count is not examined; the value is read from positions 9-12
        // (and 13-16), which must lie on the line.
        case 0x02:
            if (recordBytes < kRecordHeaderBytes + 2)
                return hrIllegalRecord;
            FSegmentBase = static_cast<std::uint32_t>(Word(data)) * 16;
            break;
        case 0x03:
            if (recordBytes < kRecordHeaderBytes + 4)
                return hrIllegalRecord;
            FEntryAddress = static_cast<std::uint32_t>(Word(data)) * 16 + Word(data + 2);
            break;
        default:
            return hrIllegalRecord;
        }
    }
    return result;
}

THexResult TIntelExtendedHexFile::ParseDataRecord(const std::uint8_t* record, std::uint32_t& address,
                                                  std::uint8_t* buffer, std::uint16_t& length,
                                                  std::uint16_t maxLength) {
    // A plain sum: the offset does not wrap at 64 KiB.
    address = Word(record + 1) + FSegmentBase;
    if (address > FLastAddress) {
        if (FLastAddress != 0)
            FPosition += address - FLastAddress;
        FLastAddress = address;
    }
    if (address < FLastAddress)
        return hrNonAscending;

    std::uint16_t count = record[0];
    FPosition += count;
    THexResult result = hrOK;
    if (count >= maxLength) {
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
    // Neither a longer record nor a segment above 0xFFFF can be written in this format.
    if (length > kMaxRecordDataBytes || (address >> 4) > kMaxWriteSegment)
        return hrIllegalRecord;

    const std::uint32_t offset = address - FSegmentBase * 16;
    // The last test keeps every record inside its segment: readers differ on whether an offset
    // that runs past 0xFFFF wraps, and then they would not agree on the addresses.
    if (address != FLastAddress || offset > kMaxSegmentOffset ||
        (length > 0 && offset + length - 1 > kMaxSegmentOffset)) {
        FSegmentBase = address >> 4;
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
}

THexResult TBinaryDataHexFile::Scan() {
    if (!FFile)
        return hrFileNotOpened;
    std::FILE* stream = FFile.get();
    FPosition = 0;
    FTotalSize = 0;
    const off_t size = fseeko(stream, 0, SEEK_END) == 0 ? ftello(stream) : -1;
    if (size < 0 || fseeko(stream, 0, SEEK_SET) != 0) {
        FErrorDetail = QStringLiteral("%1: %2").arg(FFileName, SystemReason());
        return hrCannotOpenFile;
    }
    // The size header and the progress measure have 32 bits.
    if (static_cast<std::uint64_t>(size) > std::numeric_limits<std::uint32_t>::max()) {
        FErrorDetail = QStringLiteral("%1: %2").arg(FFileName, QString::fromLocal8Bit(std::strerror(EFBIG)));
        return hrCannotOpenFile;
    }
    // A block command carries a 32-bit address: the image must not run past it (and wrap to 0).
    const std::uint64_t end = std::uint64_t(FStartAddress) + (FWriteSizeHeader ? kSizeHeaderBytes : 0) +
                              static_cast<std::uint64_t>(size);
    if (end > std::uint64_t(std::numeric_limits<std::uint32_t>::max()) + 1) {
        FErrorDetail = QStringLiteral("%1: its last byte would lie at 0x%2")
                           .arg(FFileName, QString::number(end - 1, 16).toUpper());
        return hrBeyondAddressSpace;
    }
    FTotalSize = static_cast<std::uint32_t>(size);
    FDataSize = std::uint64_t(size) + (FWriteSizeHeader ? kSizeHeaderBytes : 0);
    return hrOK;
}

THexResult TBinaryDataHexFile::ReadBlock(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                         std::uint16_t maxLength) {
    if (!FFile)
        return hrFileNotOpened;
    std::FILE* stream = FFile.get();
    length = 0;
    address = FStartAddress + FPosition;
    const bool sizeHeaderNow = FWriteSizeHeader && FPosition == 0;
    // Later blocks follow the four header bytes.
    if (FWriteSizeHeader && !sizeHeaderNow)
        address += kSizeHeaderBytes;
    if (std::feof(stream))
        return hrEndOfFile;
    // The first block must also take file data, or the header would come again on every call.
    if (maxLength == 0 || (sizeHeaderNow && maxLength <= kSizeHeaderBytes))
        return hrBufferTooSmall;

    if (sizeHeaderNow) {
        for (int i = 0; i < kSizeHeaderBytes; ++i)
            buffer[i] = static_cast<std::uint8_t>(FTotalSize >> (8 * i));
        length = kSizeHeaderBytes;
    }

    // Like a byte-by-byte read, fread meets the end of the file only when it asks for more bytes
    // than are left, so the end is reported one call after that read.
    const std::size_t got = std::fread(buffer + length, 1, maxLength - length, stream);
    if (std::ferror(stream)) {
        FErrorDetail = QStringLiteral("%1: %2").arg(FFileName, SystemReason());
        return hrIllegalRecord;
    }
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

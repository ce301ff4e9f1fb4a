#include "image/elffile.h"

#include "image/imagesnapshot.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t kAddressSpace = 0x100000000ull;

// e_ident
constexpr std::uint8_t kMagic[] = {0x7F, 'E', 'L', 'F'};
constexpr int kClassByte = 4;
constexpr int kDataByte = 5;
constexpr int kVersionByte = 6;
constexpr std::uint8_t kClass32 = 1;
constexpr std::uint8_t kClass64 = 2;
constexpr std::uint8_t kLittleEndian = 1;
constexpr std::uint8_t kBigEndian = 2;
constexpr std::uint32_t kLoadSegment = 1;        // PT_LOAD
constexpr std::uint16_t kExtendedCount = 0xFFFF; // PN_XNUM: the count lies in a section header

// Where the fields lie in each class.
struct TLayout {
    std::size_t HeaderSize, PhOff, PhEntSize, PhNum;
    std::size_t EntrySize, Type, Offset, PAddr, FileSize, MemSize;
    int WordBytes;
};
constexpr TLayout kLayout32{52, 0x1C, 0x2A, 0x2C, 32, 0, 4, 12, 16, 20, 4};
constexpr TLayout kLayout64{64, 0x20, 0x36, 0x38, 56, 0, 8, 24, 32, 40, 8};

std::uint64_t Field(const std::uint8_t* at, int bytes, bool bigEndian) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t(at[bigEndian ? bytes - 1 - i : i]) << (8 * i);
    return value;
}

QString Hex(std::uint64_t value) {
    return QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

} // namespace

void TElfFile::Reset() {
    Close();
    FSegments.clear();
    FSegment = 0;
    FSegmentDone = 0;
    FScanFault = hrOK;
    FStartAddress = 0;
    FTotalSize = 0;
    FPosition = 0;
}

THexResult TElfFile::Fail(THexResult result, const QString& problem) {
    FLastFailure = QStringLiteral("%1: %2").arg(FFileName, problem);
    return result;
}

THexResult TElfFile::ScanImage() {
    FSegments.clear();
    FSegment = 0;
    FSegmentDone = 0;
    FPosition = 0;
    FTotalSize = 0;
    FStartAddress = 0xFFFFFFFFu;
    FScanFault = hrOK;
    const THexResult result = ReadSegments();
    if (result != hrOK) {
        FSegments.clear();
        FScanFault = result; // reading on meets it again, as in the other readers
        return result;
    }
    std::uint64_t total = 0;
    for (const TSegment& segment : FSegments)
        total += segment.Size;
    if (!FSegments.empty())
        FStartAddress = FSegments.front().Address;
    FTotalSize = static_cast<std::uint32_t>(total); // below 4 GiB: the segments do not overlap
    const THexResult measured = MeasureStreamedBlocks();
    FDataSize = total;
    FSegment = 0;
    FSegmentDone = 0;
    FPosition = 0;
    return measured;
}

THexResult TElfFile::ReadSegments() {
    const std::uint8_t* ident = FBytes->View(0, kLayout64.HeaderSize);
    const std::uint64_t size = FBytes->Size();
    if (!ident)
        return Fail(hrIllegalRecord, FBytes->Error());
    if (size < sizeof kMagic || std::memcmp(ident, kMagic, sizeof kMagic) != 0)
        return Fail(hrIllegalRecord, QStringLiteral("not an ELF file"));
    if (size <= kVersionByte || (ident[kClassByte] != kClass32 && ident[kClassByte] != kClass64) ||
        (ident[kDataByte] != kLittleEndian && ident[kDataByte] != kBigEndian) || ident[kVersionByte] != 1)
        return Fail(hrIllegalRecord, QStringLiteral("unknown ELF class, byte order or version"));
    const TLayout& layout = ident[kClassByte] == kClass32 ? kLayout32 : kLayout64;
    const bool big = ident[kDataByte] == kBigEndian;
    if (size < layout.HeaderSize)
        return Fail(hrIllegalRecord, QStringLiteral("the ELF header is cut short"));

    const std::uint64_t tableOffset = Field(ident + layout.PhOff, layout.WordBytes, big);
    const auto entrySize = static_cast<std::size_t>(Field(ident + layout.PhEntSize, 2, big));
    const auto count = static_cast<std::size_t>(Field(ident + layout.PhNum, 2, big));
    if (count == kExtendedCount)
        return Fail(hrIllegalRecord, QStringLiteral("more program headers than an image can have"));
    if (count != 0 && entrySize < layout.EntrySize)
        return Fail(hrIllegalRecord, QStringLiteral("program headers of %1 bytes").arg(entrySize));
    if (count != 0 && (tableOffset > size || (size - tableOffset) / entrySize < count))
        return Fail(hrIllegalRecord, QStringLiteral("the program headers lie past the end of the file"));

    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = FBytes->View(tableOffset + i * entrySize, layout.EntrySize);
        if (!entry)
            return Fail(hrIllegalRecord, FBytes->Error());
        const std::uint64_t fileSize = Field(entry + layout.FileSize, layout.WordBytes, big);
        if (Field(entry + layout.Type, 4, big) != kLoadSegment || fileSize == 0)
            continue;
        // More bytes in the file than the segment holds in memory: no loader would know which to take.
        if (const std::uint64_t memSize = Field(entry + layout.MemSize, layout.WordBytes, big);
            fileSize > memSize)
            return Fail(hrIllegalRecord,
                        QStringLiteral("program header %1: %2 bytes in the file, %3 in memory")
                            .arg(i)
                            .arg(fileSize)
                            .arg(memSize));
        const std::uint64_t offset = Field(entry + layout.Offset, layout.WordBytes, big);
        const std::uint64_t address = Field(entry + layout.PAddr, layout.WordBytes, big);
        if (offset > size || size - offset < fileSize)
            return Fail(hrIllegalRecord,
                        QStringLiteral("program header %1: its data lie past the end of the file").arg(i));
        if (address >= kAddressSpace || fileSize > kAddressSpace - address)
            return Fail(
                hrBeyondAddressSpace,
                QStringLiteral("program header %1: %2 bytes at %3").arg(i).arg(fileSize).arg(Hex(address)));
        FSegments.push_back(
            {static_cast<std::uint32_t>(address), offset, static_cast<std::uint32_t>(fileSize)});
    }

    std::stable_sort(FSegments.begin(), FSegments.end(),
                     [](const TSegment& a, const TSegment& b) { return a.Address < b.Address; });
    for (std::size_t i = 1; i < FSegments.size(); ++i) {
        const TSegment& before = FSegments[i - 1];
        if (std::uint64_t(before.Address) + before.Size > FSegments[i].Address)
            return Fail(hrNonAscending, QStringLiteral("the segments at %1 and %2 overlap")
                                            .arg(Hex(before.Address), Hex(FSegments[i].Address)));
    }
    NoteHeadersInSegments(layout.HeaderSize, tableOffset, std::uint64_t(count) * entrySize);
    return hrOK;
}

// A segment that starts at the top of the file (a linker's text segment often does) carries the ELF
// header, and the program headers when they follow it, to the FLASH: an image copied out of the
// sections would not hold them.
void TElfFile::NoteHeadersInSegments(std::uint64_t headerSize, std::uint64_t tableOffset,
                                     std::uint64_t tableSize) {
    // The header, and the table with it when it begins where the header ends (or inside it).
    const std::uint64_t headersEnd =
        tableOffset <= headerSize ? std::max(headerSize, tableOffset + tableSize) : headerSize;
    QStringList notes;
    for (std::size_t i = 0; i < FSegments.size(); ++i) {
        const TSegment& segment = FSegments[i];
        if (segment.Offset >= headersEnd)
            continue;
        const std::uint64_t bytes = std::min<std::uint64_t>(headersEnd - segment.Offset, segment.Size);
        notes << QStringLiteral("segment %1 includes the ELF headers (%2 bytes at %3)")
                     .arg(i + 1)
                     .arg(bytes)
                     .arg(Hex(segment.Address));
    }
    FNote = notes.join(QStringLiteral("; "));
}

THexResult TElfFile::ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                              std::uint16_t maxLength) {
    if (!FBytes)
        return hrFileNotOpened;
    length = 0;
    if (FScanFault != hrOK)
        return FScanFault;
    if (FSegment >= FSegments.size())
        return hrEndOfFile;
    if (maxLength == 0)
        return hrBufferTooSmall;
    const TSegment& segment = FSegments[FSegment];
    const auto count =
        static_cast<std::uint16_t>(std::min<std::uint32_t>(segment.Size - FSegmentDone, maxLength));
    const std::uint8_t* data = FBytes->View(segment.Offset + FSegmentDone, count);
    if (!data)
        return Fail(hrIllegalRecord, FBytes->Error());
    address = segment.Address + FSegmentDone;
    std::memcpy(buffer, data, count);
    length = count;
    FPosition += count;
    FSegmentDone += count;
    if (FSegmentDone == segment.Size) {
        ++FSegment;
        FSegmentDone = 0;
    }
    return hrOK;
}

#include "image/imagereader.h"

#include "image/elffile.h"
#include "image/imagesnapshot.h"
#include "image/srecfile.h"

namespace {

// Enough of the file to tell the formats apart.
constexpr std::size_t kHeadBytes = 4;

} // namespace

std::unique_ptr<TAbsoluteHexFile> CreateImageReaderFor(TImageFormat format, std::uint32_t startAddress,
                                                       bool writeSizeHeader) {
    switch (format) {
    case TImageFormat::Auto:
        return std::make_unique<TAutoImageFile>(startAddress, writeSizeHeader);
    case TImageFormat::IntelExtended:
        return std::make_unique<TIntelExtendedHexFile>();
    case TImageFormat::IntelHex:
        return std::make_unique<TIntelExtendedHexFile>(true);
    case TImageFormat::SRecord:
        return std::make_unique<TSRecordFile>();
    case TImageFormat::Elf:
        return std::make_unique<TElfFile>();
    case TImageFormat::Binary:
        return std::make_unique<TBinaryDataHexFile>(startAddress, writeSizeHeader);
    }
    return nullptr;
}

TAutoImageFile::TAutoImageFile(std::uint32_t startAddress, bool writeSizeHeader)
    : FBinaryStart(startAddress), FWriteSizeHeader(writeSizeHeader) {}

THexResult TAutoImageFile::OpenSnapshot(std::shared_ptr<TImageSnapshot> snapshot) {
    if (IsOpen())
        return hrFileAlreadyOpen;
    Reset();
    FFileName = snapshot->FileName();
    FLastFailure.clear();
    std::uint8_t head[kHeadBytes];
    std::size_t headLength = kHeadBytes;
    if (!snapshot->ReadHead(head, headLength, FLastFailure))
        return hrCannotOpenFile;
    FDetected = DetectImageFormat(head, headLength, FFileName);
    // An empty file fits every format: it is read as one, and said to be empty.
    if (FDetected == TImageFormat::Auto && headLength == 0)
        FDetected = TImageFormat::IntelExtended;
    if (FDetected == TImageFormat::Auto) {
        FLastFailure = QStringLiteral("%1: %2").arg(FFileName, ImageFormatsLookedFor());
        FUnknownOpen = true;
        return hrUnknownFormat;
    }
    FReader = CreateImageReaderFor(FDetected, FBinaryStart, FWriteSizeHeader);
    return Mirror(FReader->OpenSnapshot(std::move(snapshot)));
}

THexResult TAutoImageFile::Mirror(THexResult result) {
    FStartAddress = FReader->StartAddress();
    FTotalSize = FReader->TotalSize();
    FDataSize = FReader->DataSize();
    FPosition = FReader->Position();
    FLastFailure = FReader->LastFailure();
    return result;
}

void TAutoImageFile::Reset() {
    Close();
    FReader.reset();
    FDetected = TImageFormat::Auto;
    FStartAddress = 0;
    FTotalSize = 0;
    FDataSize = 0;
    FPosition = 0;
}

THexResult TAutoImageFile::Close() {
    const THexResult result = FReader ? FReader->Close() : THexResult(hrOK);
    FUnknownOpen = false;
    TAbsoluteHexFile::Close();
    return result;
}

bool TAutoImageFile::IsOpen() const {
    return FReader ? FReader->IsOpen() : FUnknownOpen;
}

bool TAutoImageFile::HoldsData() const {
    return FReader && FReader->HoldsData();
}

std::shared_ptr<TImageSnapshot> TAutoImageFile::Snapshot() const {
    return FReader ? FReader->Snapshot() : nullptr;
}

THexResult TAutoImageFile::ScanImage() {
    if (!FReader)
        return FUnknownOpen ? THexResult(hrUnknownFormat) : THexResult(hrFileNotOpened);
    return Mirror(FReader->Scan());
}

// The reader keeps the books of its blocks: counted here again they would be counted twice.
THexResult TAutoImageFile::ReadBlock(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                     std::uint16_t maxLength) {
    return ReadNext(address, buffer, length, maxLength);
}

THexResult TAutoImageFile::ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                    std::uint16_t maxLength) {
    length = 0;
    if (!FReader)
        return FUnknownOpen ? THexResult(hrUnknownFormat) : THexResult(hrFileNotOpened);
    return Mirror(FReader->ReadBlock(address, buffer, length, maxLength));
}

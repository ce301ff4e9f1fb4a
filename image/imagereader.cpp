#include "image/imagereader.h"

#include "image/elffile.h"
#include "image/imagesnapshot.h"
#include "image/srecfile.h"

#include <QString>

namespace {

// Enough of the file to tell the formats apart.
constexpr std::size_t kHeadBytes = 4;

} // namespace

std::unique_ptr<TAbsoluteHexFile> CreateImageReaderFor(TImageFormat format, std::uint32_t startAddress,
                                                       bool writeSizeHeader, TNameRule nameRule) {
    switch (format) {
    case TImageFormat::Auto:
        return std::make_unique<TAutoImageFile>(startAddress, writeSizeHeader, nameRule);
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

TImageFormat WholeContentFormat(const std::shared_ptr<TImageSnapshot>& snapshot) {
    std::uint8_t head[kHeadBytes];
    std::size_t headLength = kHeadBytes;
    QString reason;
    if (!snapshot->ReadHead(head, headLength, reason))
        return TImageFormat::Auto;
    const TImageFormat byHead = FormatOfHead(head, headLength);
    if (byHead == TImageFormat::Auto)
        return byHead;
    // A file too large to hold keeps the measure of the first reader of its snapshot: this trial reads
    // one of its own, so that the run's reader is that first one.
    std::shared_ptr<TImageSnapshot> trial = snapshot;
    if (!snapshot->InMemory())
        trial = TImageSnapshot::Take(snapshot->FileName(), reason, 0);
    std::unique_ptr<TAbsoluteHexFile> reader = CreateImageReaderFor(byHead);
    const bool whole = trial && reader->OpenSnapshot(std::move(trial)) == hrOK;
    reader->Close();
    return whole ? byHead : TImageFormat::Auto;
}

TAutoImageFile::TAutoImageFile(std::uint32_t startAddress, bool writeSizeHeader, TNameRule nameRule)
    : FBinaryStart(startAddress), FWriteSizeHeader(writeSizeHeader), FNameRule(nameRule) {}

TImageFormat TAutoImageFile::Choose(const std::shared_ptr<TImageSnapshot>& snapshot, TImageFormat byHead) {
    if (ImageFormatOfFileName(FFileName) == TImageFormat::Binary) {
        // A raw image may well begin with ':' or "S1": only a whole image of another format outweighs
        // the name, and by the rule asked for.
        const TImageFormat content =
            byHead == TImageFormat::Auto ? TImageFormat::Auto : WholeContentFormat(snapshot);
        if (content == TImageFormat::Auto && byHead != TImageFormat::Auto)
            FHeadNote =
                QStringLiteral("begins like %1 but does not read as a whole %1 image: sent raw, by its name")
                    .arg(ImageFormatTitle(byHead));
        if (content == TImageFormat::Auto || FNameRule == TNameRule::ContentFirst)
            return content == TImageFormat::Auto ? TImageFormat::Binary : content;
        FLastFailure = QStringLiteral("%1 is an %2 file, but its name says raw binary")
                           .arg(FFileName, ImageFormatTitle(content));
        FAdvice = content == TImageFormat::Elf ? TFormatAdvice::RawOrSegments : TFormatAdvice::RawOrRecords;
        FRefusal = hrNotAsNamed;
        return TImageFormat::Auto;
    }
    if (byHead == TImageFormat::Auto) {
        FLastFailure = QStringLiteral("%1: %2").arg(FFileName, ImageFormatsLookedFor());
        FRefusal = hrUnknownFormat;
    }
    return byHead;
}

THexResult TAutoImageFile::OpenSnapshot(std::shared_ptr<TImageSnapshot> snapshot) {
    if (IsOpen())
        return hrFileAlreadyOpen;
    Reset();
    FFileName = snapshot->FileName();
    FLastFailure.clear();
    FAdvice = TFormatAdvice::None;
    FNote.clear();
    FHeadNote.clear();
    std::uint8_t head[kHeadBytes];
    std::size_t headLength = kHeadBytes;
    if (!snapshot->ReadHead(head, headLength, FLastFailure))
        return hrCannotOpenFile;
    // An empty file fits every format: it is read as one, and said to be empty.
    FEmpty = headLength == 0;
    FDetected = FEmpty ? TImageFormat::IntelExtended : Choose(snapshot, FormatOfHead(head, headLength));
    if (FDetected == TImageFormat::Auto) {
        FUnknownOpen = true;
        return FRefusal;
    }
    FReader = CreateImageReaderFor(FDetected, FBinaryStart, FWriteSizeHeader);
    const THexResult result = Mirror(FReader->OpenSnapshot(std::move(snapshot)));
    // Found by its first bytes alone (the name says nothing of it), the format is only a guess until the
    // whole file reads.
    if (result != hrOK && result != hrCannotOpenFile && result != hrImageChanged && !NameAgrees()) {
        FLastFailure += QStringLiteral(" (read as %1, by its first bytes)").arg(ImageFormatTitle(FDetected));
        if (FAdvice == TFormatAdvice::None)
            FAdvice = TFormatAdvice::Raw;
    }
    return result;
}

bool TAutoImageFile::NameAgrees() const {
    return ImageFormatNamed(FFileName) == FDetected;
}

THexResult TAutoImageFile::Mirror(THexResult result) {
    FStartAddress = FReader->StartAddress();
    FTotalSize = FReader->TotalSize();
    FDataSize = FReader->DataSize();
    FPosition = FReader->Position();
    FLastFailure = FReader->LastFailure();
    FAdvice = FReader->Advice();
    FNote = FHeadNote.isEmpty() ? FReader->Note() : FHeadNote;
    return result;
}

void TAutoImageFile::Reset() {
    Close();
    FReader.reset();
    FDetected = TImageFormat::Auto;
    FEmpty = false;
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
        return FUnknownOpen ? FRefusal : THexResult(hrFileNotOpened);
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
        return FUnknownOpen ? FRefusal : THexResult(hrFileNotOpened);
    return Mirror(FReader->ReadBlock(address, buffer, length, maxLength));
}

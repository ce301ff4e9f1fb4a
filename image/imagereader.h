#pragma once
// The reader of each image format, and the reader that finds the format of a file by itself.

#include "image/hexfiles.h"
#include "image/imageformat.h"

#include <memory>

// How a name that says binary (.rbf, .bin) weighs against the file's content.
enum class TNameRule {
    NameFirst,    // binary, unless the whole file is an image of another format: then refused
    ContentFirst, // the whole file's format when it is one, else binary
};

// A reader of `format`; Auto gives a TAutoImageFile. `startAddress` and `writeSizeHeader` concern
// binary images only.
std::unique_ptr<TAbsoluteHexFile> CreateImageReaderFor(TImageFormat format, std::uint32_t startAddress = 0,
                                                       bool writeSizeHeader = true,
                                                       TNameRule nameRule = TNameRule::NameFirst);

// The format whose reader takes the whole file without a fault, of those FormatOfHead points to; Auto
// when there is none.
TImageFormat WholeContentFormat(const std::shared_ptr<TImageSnapshot>& snapshot);

// Reads Intel HEX (records 00..05), S-record or ELF by the file's first bytes, or binary by its
// extension (.rbf, .bin, weighed by `nameRule`); any other file is hrUnknownFormat. Once the format is
// known, everything passes on to that format's reader, which keeps the books of the pass (measure,
// changed image); this one holds no bytes of its own and only mirrors the reader's figures.
class TAutoImageFile final : public TReadOnlyImageFile {
public:
    TAutoImageFile(std::uint32_t startAddress, bool writeSizeHeader,
                   TNameRule nameRule = TNameRule::NameFirst);

    THexResult OpenSnapshot(std::shared_ptr<TImageSnapshot> snapshot) override;
    void Reset() override;
    THexResult Close() override;
    bool IsOpen() const override;
    THexResult ReadBlock(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                         std::uint16_t maxLength) override;
    bool HoldsData() const override;
    std::shared_ptr<TImageSnapshot> Snapshot() const override;
    // Auto for an empty file too: it fits every format and was read as none in particular.
    TImageFormat ReadsAs() const override { return FEmpty ? TImageFormat::Auto : FDetected; }
    // The file's extension names the format that was found.
    bool NameAgrees() const;

protected:
    THexResult ScanImage() override;
    THexResult ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                        std::uint16_t maxLength) override;

private:
    THexResult Mirror(THexResult result);
    // The format to read, or Auto with the refusal in FLastFailure.
    TImageFormat Choose(const std::shared_ptr<TImageSnapshot>& snapshot, TImageFormat byHead);

    std::uint32_t FBinaryStart;
    bool FWriteSizeHeader;
    TNameRule FNameRule;
    TImageFormat FDetected = TImageFormat::Auto;
    bool FEmpty = false;
    QString FHeadNote; // a name that says binary on bytes that begin like another format
    std::unique_ptr<TAbsoluteHexFile> FReader;
    bool FUnknownOpen = false; // open on a file of no known format: reading on meets the same fault
    THexResult FRefusal = hrUnknownFormat;
};

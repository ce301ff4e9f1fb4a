#pragma once
// The reader of each image format, and the reader that finds the format of a file by itself.

#include "image/hexfiles.h"
#include "image/imageformat.h"

#include <memory>

// A reader of `format`; Auto gives a TAutoImageFile. `startAddress` and `writeSizeHeader` concern
// binary images only.
std::unique_ptr<TAbsoluteHexFile> CreateImageReaderFor(TImageFormat format, std::uint32_t startAddress = 0,
                                                       bool writeSizeHeader = true);

// Reads Intel HEX (records 00..05), S-record or ELF by the file's first bytes, or binary by its
// extension (.rbf, .bin); any other file is hrUnknownFormat. Once the format is known, everything
// passes on to that format's reader, which keeps the books of the pass (measure, changed image); this
// one holds no bytes of its own and only mirrors the reader's figures.
class TAutoImageFile final : public TReadOnlyImageFile {
public:
    TAutoImageFile(std::uint32_t startAddress, bool writeSizeHeader);

    THexResult OpenSnapshot(std::shared_ptr<TImageSnapshot> snapshot) override;
    void Reset() override;
    THexResult Close() override;
    bool IsOpen() const override;
    THexResult ReadBlock(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                         std::uint16_t maxLength) override;
    bool HoldsData() const override;
    std::shared_ptr<TImageSnapshot> Snapshot() const override;

    // The format found by the last Open; Auto before.
    TImageFormat Detected() const { return FDetected; }

protected:
    THexResult ScanImage() override;
    THexResult ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                        std::uint16_t maxLength) override;

private:
    THexResult Mirror(THexResult result);

    std::uint32_t FBinaryStart;
    bool FWriteSizeHeader;
    TImageFormat FDetected = TImageFormat::Auto;
    std::unique_ptr<TAbsoluteHexFile> FReader;
    bool FUnknownOpen = false; // open on a file of no known format: reading on meets the same fault
};

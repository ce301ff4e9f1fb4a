// The Intel HEX reader on arbitrary files. Input: one byte that picks the caller's maximum block
// length (0 means the 200 the operations use), then the file's bytes.
//
// Checked: what every reader must pass (fuzz/imagepass.h), read twice with the same answer; an image
// without data has no start address; blocks never start below an earlier one. Whatever was read is
// written back with the writer and read again unchanged, and read by the full reader (records 04/05
// too) into the same blocks.

#include "fuzz/imagepass.h"

#include <cstring>

namespace {

constexpr std::uint32_t kWritableLimit = 0x100000; // the writer's segments reach 1 MiB

TFuzzPass ReadImage(const QString& path, std::uint16_t maxLength, std::size_t fileSize, bool full = false) {
    TIntelExtendedHexFile reader(full);
    return ReadFuzzImage(reader, path, maxLength, fileSize);
}

// Highest start so far never decreases: a block below it would have been refused.
bool Ascending(const std::vector<TFuzzBlock>& blocks) {
    std::uint32_t highest = 0;
    for (const TFuzzBlock& block : blocks) {
        if (block.Address < highest)
            return false;
        highest = block.Address;
    }
    return true;
}

void CheckWriterRoundTrip(const std::vector<TFuzzBlock>& blocks) {
    for (const TFuzzBlock& block : blocks)
        if (block.Address + block.Data.size() > kWritableLimit)
            return;
    static TMemoryFile copy;
    copy.Write(nullptr, 0);
    {
        TIntelExtendedHexFile writer;
        FUZZ_CHECK(writer.Open(copy.Path(), hmWrite, true) == hrOK);
        for (const TFuzzBlock& block : blocks)
            FUZZ_CHECK(writer.WriteBlock(block.Address, block.Data.data(),
                                         std::uint16_t(block.Data.size())) == hrOK);
        FUZZ_CHECK(writer.Close() == hrOK);
    }
    TIntelExtendedHexFile reader;
    FUZZ_CHECK(reader.Open(copy.Path(), hmProgram, false) == hrOK);
    std::uint8_t buffer[kOperationMax];
    for (const TFuzzBlock& block : blocks) {
        std::uint32_t address = 0;
        std::uint16_t length = 0;
        FUZZ_CHECK(reader.ReadBlock(address, buffer, length, kOperationMax) == hrOK);
        FUZZ_CHECK(address == block.Address);
        FUZZ_CHECK(length == block.Data.size());
        FUZZ_CHECK(std::memcmp(buffer, block.Data.data(), length) == 0);
    }
    std::uint32_t address = 0;
    std::uint16_t length = 0;
    THexResult result = reader.ReadBlock(address, buffer, length, kOperationMax);
    // A file without an end record ends with one empty block first.
    if (result == hrOK && length == 0)
        result = reader.ReadBlock(address, buffer, length, kOperationMax);
    FUZZ_CHECK(result == hrEndOfFile);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint16_t maxLength = data[0] == 0 ? kOperationMax : data[0];
    static TMemoryFile image;
    image.Write(data + 1, size - 1);

    const TFuzzPass first = ReadImage(image.Path(), maxLength, size - 1);
    CheckSamePasses(first, ReadImage(image.Path(), maxLength, size - 1));

    if (first.Opened == hrOK && first.Final == hrEndOfFile) {
        FUZZ_CHECK(!first.Blocks.empty() || first.Start == 0xFFFFFFFFu);
        FUZZ_CHECK(Ascending(first.Blocks));
        CheckWriterRoundTrip(first.Blocks);
        // What the strict reader accepts, the full one reads into the same blocks.
        if (maxLength >= kOperationMax) {
            const TFuzzPass full = ReadImage(image.Path(), maxLength, size - 1, true);
            FUZZ_CHECK(full.Opened == hrOK && full.Final == hrEndOfFile && full.Total == first.Total);
            FUZZ_CHECK(full.Blocks.size() == first.Blocks.size());
            for (std::size_t i = 0; i < full.Blocks.size(); ++i)
                FUZZ_CHECK(full.Blocks[i].Address == first.Blocks[i].Address &&
                           full.Blocks[i].Data == first.Blocks[i].Data);
        }
    }
    return 0;
}

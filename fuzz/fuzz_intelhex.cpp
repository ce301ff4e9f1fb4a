// The Intel HEX reader on arbitrary files. Input: one byte that picks the caller's maximum block
// length (0 means the 200 the operations use), then the file's bytes.
//
// Checked: Open only ever refuses with a format code; ReadBlock never writes past the caller's buffer
// (an exact-size heap buffer, so the address sanitizer sees any overrun), never reports more than the
// maximum, and always comes to an end; the size measure never runs past the total. With the
// operations' maximum, a file that opened reads to the end with ascending blocks and the position
// meets the total exactly, and a file that was refused is refused again on the same read. Opening
// twice gives the same answer. Whatever was read is written back with the writer and read again
// unchanged, and read by the full reader (records 04/05 too) into the same blocks.

#include "fuzz/fuzzcheck.h"
#include "fuzz/memoryfile.h"
#include "image/hexfiles.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint16_t kOperationMax = 200;
constexpr std::uint32_t kWritableLimit = 0x100000; // the writer's segments reach 1 MiB

struct TBlock {
    std::uint32_t Address;
    std::vector<std::uint8_t> Data;
};

struct TPass {
    THexResult Opened = hrOK;
    std::uint32_t Start = 0;
    std::uint32_t Total = 0;
    THexResult Final = hrOK;
    std::vector<TBlock> Blocks;
};

TPass ReadImage(const QString& path, std::uint16_t maxLength, std::size_t fileSize, bool full = false) {
    TPass pass;
    TIntelExtendedHexFile reader(full);
    pass.Opened = reader.Open(path, hmProgram, false);
    FUZZ_CHECK(pass.Opened == hrOK || pass.Opened == hrIllegalRecord || pass.Opened == hrNonAscending);
    FUZZ_CHECK(reader.IsOpen());
    FUZZ_CHECK(reader.Position() == 0);
    pass.Start = reader.StartAddress();
    pass.Total = reader.TotalSize();

    // Every call that returns 0 consumes at least one line.
    const std::size_t maxCalls = fileSize + 4;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[maxLength]);
    std::size_t calls = 0;
    for (;; ++calls) {
        FUZZ_CHECK(calls <= maxCalls);
        std::uint32_t address = 0;
        std::uint16_t length = 0xFFFF;
        const THexResult result = reader.ReadBlock(address, buffer.get(), length, maxLength);
        FUZZ_CHECK(length <= maxLength);
        if (pass.Opened == hrOK)
            FUZZ_CHECK(reader.Position() <= reader.TotalSize());
        if (result != hrOK) {
            FUZZ_CHECK(result == hrEndOfFile || result == hrIllegalRecord || result == hrBufferTooSmall ||
                       result == hrNonAscending);
            FUZZ_CHECK(result != hrEndOfFile || length == 0);
            pass.Final = result;
            break;
        }
        if (length > 0)
            pass.Blocks.push_back({address, std::vector<std::uint8_t>(buffer.get(), buffer.get() + length)});
    }
    if (maxLength >= kOperationMax) {
        if (pass.Opened == hrOK) {
            FUZZ_CHECK(pass.Final == hrEndOfFile);
            FUZZ_CHECK(reader.Position() == reader.TotalSize());
            FUZZ_CHECK(pass.Blocks.empty() ? pass.Start == 0xFFFFFFFFu
                                           : pass.Start == pass.Blocks.front().Address);
        } else {
            FUZZ_CHECK(pass.Final == pass.Opened);
        }
    }
    FUZZ_CHECK(reader.Close() == hrOK);
    FUZZ_CHECK(!reader.IsOpen());
    return pass;
}

// Highest start so far never decreases: a block below it would have been refused.
bool Ascending(const std::vector<TBlock>& blocks) {
    std::uint32_t highest = 0;
    for (const TBlock& block : blocks) {
        if (block.Address < highest)
            return false;
        highest = block.Address;
    }
    return true;
}

void CheckWriterRoundTrip(const std::vector<TBlock>& blocks) {
    for (const TBlock& block : blocks)
        if (block.Address + block.Data.size() > kWritableLimit)
            return;
    static TMemoryFile copy;
    copy.Write(nullptr, 0);
    {
        TIntelExtendedHexFile writer;
        FUZZ_CHECK(writer.Open(copy.Path(), hmWrite, true) == hrOK);
        for (const TBlock& block : blocks)
            FUZZ_CHECK(writer.WriteBlock(block.Address, block.Data.data(),
                                         std::uint16_t(block.Data.size())) == hrOK);
        FUZZ_CHECK(writer.Close() == hrOK);
    }
    TIntelExtendedHexFile reader;
    FUZZ_CHECK(reader.Open(copy.Path(), hmProgram, false) == hrOK);
    std::uint8_t buffer[kOperationMax];
    for (const TBlock& block : blocks) {
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

    const TPass first = ReadImage(image.Path(), maxLength, size - 1);
    const TPass second = ReadImage(image.Path(), maxLength, size - 1);
    FUZZ_CHECK(first.Opened == second.Opened && first.Total == second.Total && first.Start == second.Start);
    FUZZ_CHECK(first.Final == second.Final && first.Blocks.size() == second.Blocks.size());

    if (first.Opened == hrOK && first.Final == hrEndOfFile) {
        FUZZ_CHECK(Ascending(first.Blocks));
        CheckWriterRoundTrip(first.Blocks);
        // What the strict reader accepts, the full one reads into the same blocks.
        if (maxLength >= kOperationMax) {
            const TPass full = ReadImage(image.Path(), maxLength, size - 1, true);
            FUZZ_CHECK(full.Opened == hrOK && full.Final == hrEndOfFile && full.Total == first.Total);
            FUZZ_CHECK(full.Blocks.size() == first.Blocks.size());
            for (std::size_t i = 0; i < full.Blocks.size(); ++i)
                FUZZ_CHECK(full.Blocks[i].Address == first.Blocks[i].Address &&
                           full.Blocks[i].Data == first.Blocks[i].Data);
        }
    }
    return 0;
}

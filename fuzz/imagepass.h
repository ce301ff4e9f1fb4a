#pragma once
// One read of an image through a reader, with the checks every reader must pass whatever the input:
// Open refuses only with an image code and leaves the reader open at position 0; ReadBlock never
// writes past the caller's buffer (an exact-size heap buffer, so the address sanitizer sees an
// overrun), never reports more than the maximum, never moves the position past the total, and comes
// to an end (a buffer below the operations' maximum may be refused); a refused image is refused again
// on reading; an accepted one, read with the operations' maximum, delivers blocks in ascending order
// below 4 GiB, whose lengths add up to the measured data size, beginning at the start address, and
// ends with the position at the total.

#include "fuzz/fuzzcheck.h"
#include "fuzz/memoryfile.h"
#include "image/hexfiles.h"

#include <memory>
#include <vector>

struct TFuzzBlock {
    std::uint32_t Address;
    std::vector<std::uint8_t> Data;
};

struct TFuzzPass {
    THexResult Opened = hrOK;
    THexResult Final = hrOK;
    std::uint32_t Start = 0;
    std::uint32_t Total = 0;
    std::vector<TFuzzBlock> Blocks;
};

inline bool IsImageCode(THexResult result) {
    return result == hrIllegalRecord || result == hrNonAscending || result == hrBeyondAddressSpace;
}

constexpr std::uint16_t kOperationMax = 200;

inline TFuzzPass ReadFuzzImage(TAbsoluteHexFile& reader, const QString& path, std::uint16_t maxLength,
                               std::size_t fileSize) {
    TFuzzPass pass;
    pass.Opened = reader.Open(path, hmProgram, false);
    FUZZ_CHECK(pass.Opened == hrOK || IsImageCode(pass.Opened));
    FUZZ_CHECK(reader.IsOpen() && reader.Position() == 0);
    pass.Start = reader.StartAddress();
    pass.Total = reader.TotalSize();

    // Each call delivers a byte or consumes a line of the file.
    const std::size_t maxCalls = fileSize + pass.Total + 4;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[maxLength]);
    std::uint64_t delivered = 0;
    for (std::size_t calls = 0;; ++calls) {
        FUZZ_CHECK(calls <= maxCalls);
        std::uint32_t address = 0;
        std::uint16_t length = 0xFFFF;
        const THexResult result = reader.ReadBlock(address, buffer.get(), length, maxLength);
        FUZZ_CHECK(length <= maxLength);
        FUZZ_CHECK(pass.Opened != hrOK || reader.Position() <= pass.Total);
        if (result != hrOK) {
            FUZZ_CHECK(result == hrEndOfFile || IsImageCode(result) ||
                       (result == hrBufferTooSmall && maxLength < kOperationMax));
            FUZZ_CHECK(result != hrEndOfFile || length == 0);
            pass.Final = result;
            break;
        }
        delivered += length;
        if (length > 0)
            pass.Blocks.push_back({address, std::vector<std::uint8_t>(buffer.get(), buffer.get() + length)});
    }
    if (pass.Opened != hrOK) {
        // A buffer refused below the maximum may end the pass before the fault.
        FUZZ_CHECK(pass.Final == pass.Opened || pass.Final == hrBufferTooSmall);
    } else if (maxLength >= kOperationMax) {
        FUZZ_CHECK(pass.Final == hrEndOfFile);
        FUZZ_CHECK(delivered == reader.DataSize() && reader.Position() == pass.Total);
        FUZZ_CHECK(pass.Blocks.empty() ? reader.DataSize() == 0 : pass.Start == pass.Blocks.front().Address);
        std::uint32_t lastStart = 0;
        for (const TFuzzBlock& block : pass.Blocks) {
            FUZZ_CHECK(block.Address >= lastStart);
            lastStart = block.Address;
            FUZZ_CHECK(std::uint64_t(block.Address) + block.Data.size() <= 0x100000000ull);
        }
    }
    FUZZ_CHECK(reader.Close() == hrOK);
    FUZZ_CHECK(!reader.IsOpen());
    return pass;
}

// The same input read twice gives the same answer.
inline void CheckSamePasses(const TFuzzPass& first, const TFuzzPass& second) {
    FUZZ_CHECK(first.Opened == second.Opened && first.Final == second.Final);
    FUZZ_CHECK(first.Start == second.Start && first.Total == second.Total);
    FUZZ_CHECK(first.Blocks.size() == second.Blocks.size());
}

// The whole harness for a reader that needs nothing but the file. Input: one byte that picks the
// caller's maximum block length (0 means the 200 the operations use), then the file's bytes; the
// file is read twice, by two readers, with the checks above, and no block overlaps the one before.
template <class TReader> int FuzzReaderTwice(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint16_t maxLength = data[0] == 0 ? kOperationMax : data[0];
    static TMemoryFile image;
    image.Write(data + 1, size - 1);
    TReader first;
    TReader second;
    const TFuzzPass pass = ReadFuzzImage(first, image.Path(), maxLength, size - 1);
    CheckSamePasses(pass, ReadFuzzImage(second, image.Path(), maxLength, size - 1));
    // Unlike Intel HEX records, these formats' blocks never reach back into the one before.
    if (pass.Opened == hrOK && maxLength >= kOperationMax) {
        std::uint64_t next = 0;
        for (const TFuzzBlock& block : pass.Blocks) {
            FUZZ_CHECK(block.Address >= next);
            next = std::uint64_t(block.Address) + block.Data.size();
        }
    }
    return 0;
}

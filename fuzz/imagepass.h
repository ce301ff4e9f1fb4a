#pragma once
// One read of an image through a reader, with the checks every reader must pass whatever the input:
// Open refuses only with an image code; ReadBlock never writes past the caller's buffer (an exact-size
// heap buffer, so the address sanitizer sees an overrun), never reports more than the maximum, and
// comes to an end; a refused image is refused again on reading; an accepted one, read with the
// operations' maximum, delivers ascending blocks that do not overlap, whose lengths add up to the
// measure, beginning at the start address.

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

inline TFuzzPass ReadFuzzImage(TAbsoluteHexFile& reader, const QString& path, std::uint16_t maxLength,
                               std::size_t fileSize) {
    constexpr std::uint16_t kOperationMax = 200;
    TFuzzPass pass;
    pass.Opened = reader.Open(path, hmProgram, false);
    FUZZ_CHECK(pass.Opened == hrOK || IsImageCode(pass.Opened));
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
        if (result != hrOK) {
            FUZZ_CHECK(result == hrEndOfFile || IsImageCode(result));
            FUZZ_CHECK(result != hrEndOfFile || length == 0);
            pass.Final = result;
            break;
        }
        delivered += length;
        if (length > 0)
            pass.Blocks.push_back({address, std::vector<std::uint8_t>(buffer.get(), buffer.get() + length)});
    }
    if (pass.Opened != hrOK) {
        FUZZ_CHECK(pass.Final == pass.Opened);
    } else if (maxLength >= kOperationMax) {
        FUZZ_CHECK(pass.Final == hrEndOfFile);
        FUZZ_CHECK(delivered == pass.Total && reader.Position() == pass.Total);
        FUZZ_CHECK(pass.Blocks.empty() ? pass.Total == 0 : pass.Start == pass.Blocks.front().Address);
        std::uint64_t next = 0;
        for (const TFuzzBlock& block : pass.Blocks) {
            FUZZ_CHECK(block.Address >= next);
            next = std::uint64_t(block.Address) + block.Data.size();
            FUZZ_CHECK(next <= 0x100000000ull);
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
// file is read twice, by two readers, with the checks above.
template <class TReader> int FuzzReaderTwice(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint16_t maxLength = data[0] == 0 ? 200 : data[0];
    static TMemoryFile image;
    image.Write(data + 1, size - 1);
    TReader first;
    TReader second;
    CheckSamePasses(ReadFuzzImage(first, image.Path(), maxLength, size - 1),
                    ReadFuzzImage(second, image.Path(), maxLength, size - 1));
    return 0;
}

// The binary image reader on arbitrary files. Input: a flag byte (bit 0: size header), a byte that
// picks the maximum block length (0 means 200), four bytes of start address (least significant
// first), then the file's bytes.
//
// Checked: Open accepts every regular file whose last byte (size header included) lies at or below
// 0xFFFFFFFF, refuses every other one with 11, and measures it; the blocks carry the file's bytes in order
// behind the four size bytes, each at the address where it belongs, never more than the maximum and
// never past the caller's buffer; the read ends with 5 and the position meets the total.

#include "fuzz/fuzzcheck.h"
#include "fuzz/memoryfile.h"
#include "image/hexfiles.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint16_t kOperationMax = 200;
constexpr std::size_t kPrefixBytes = 6;
constexpr std::uint16_t kSizeHeaderBytes = 4;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kPrefixBytes)
        return 0;
    const bool header = (data[0] & 1) != 0;
    std::uint16_t maxLength = data[1] == 0 ? kOperationMax : data[1];
    // The caller must leave room for data behind the four size bytes.
    if (header && maxLength <= kSizeHeaderBytes)
        maxLength = kSizeHeaderBytes + 1;
    const std::uint32_t start = std::uint32_t(data[2]) | std::uint32_t(data[3]) << 8 |
                                std::uint32_t(data[4]) << 16 | std::uint32_t(data[5]) << 24;
    const std::uint8_t* file = data + kPrefixBytes;
    const std::size_t fileSize = size - kPrefixBytes;

    static TMemoryFile image;
    image.Write(file, fileSize);
    TBinaryDataHexFile reader(start, header);
    if (std::uint64_t(start) + (header ? kSizeHeaderBytes : 0) + fileSize > 0x100000000u) {
        FUZZ_CHECK(reader.Open(image.Path(), hmProgram, false) == hrBeyondAddressSpace);
        return 0;
    }
    FUZZ_CHECK(reader.Open(image.Path(), hmProgram, false) == hrOK);
    FUZZ_CHECK(reader.TotalSize() == fileSize);
    FUZZ_CHECK(reader.StartAddress() == start);
    FUZZ_CHECK(reader.Position() == 0);

    std::vector<std::uint8_t> delivered;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[maxLength]);
    const std::size_t maxCalls = fileSize / (maxLength - (header ? kSizeHeaderBytes : 0)) + 3;
    THexResult result = hrOK;
    for (std::size_t call = 0; result == hrOK; ++call) {
        FUZZ_CHECK(call <= maxCalls);
        const std::uint32_t before = reader.Position();
        std::uint32_t address = 0;
        std::uint16_t length = 0xFFFF;
        result = reader.ReadBlock(address, buffer.get(), length, maxLength);
        FUZZ_CHECK(length <= maxLength);
        FUZZ_CHECK(reader.Position() <= reader.TotalSize());
        if (result != hrOK) {
            FUZZ_CHECK(result == hrEndOfFile && length == 0);
            break;
        }
        // Behind the header every byte lies four further on than its file offset.
        const std::uint32_t expected = start + before + (header && call > 0 ? kSizeHeaderBytes : 0);
        FUZZ_CHECK(address == expected);
        delivered.insert(delivered.end(), buffer.get(), buffer.get() + length);
    }
    FUZZ_CHECK(reader.Position() == reader.TotalSize());

    std::vector<std::uint8_t> wanted;
    if (header)
        for (int i = 0; i < kSizeHeaderBytes; ++i)
            wanted.push_back(std::uint8_t(fileSize >> (8 * i)));
    wanted.insert(wanted.end(), file, file + fileSize);
    FUZZ_CHECK(delivered == wanted);
    FUZZ_CHECK(reader.Close() == hrOK);
    return 0;
}

// tervolt-readbench: reads an image through the program's readers exactly as a Program run does
// (Open with its pre-scan, then ReadBlock until the end, at most 200 bytes a block) and prints how many
// bytes it delivered, with a checksum over each block's address and end bytes.
//
//     tervolt-readbench --format auto|hex|ihex|srec|elf|bin FILE

#include "image/imagereader.h"

#include <QString>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

namespace {

constexpr std::uint16_t kMaxBlockLength = 200;

int Usage() {
    std::fputs("Usage: tervolt-readbench --format auto|hex|ihex|srec|elf|bin FILE\n", stderr);
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[1], "--format") != 0)
        return Usage();
    const std::optional<TImageFormat> format = ImageFormatFromName(QString::fromLatin1(argv[2]));
    if (!format)
        return Usage();
    std::unique_ptr<TAbsoluteHexFile> reader = CreateImageReaderFor(*format, 0, false);

    const QString fileName = QString::fromLocal8Bit(argv[3]);
    THexResult result = reader->Open(fileName, hmProgram, false);
    std::uint64_t bytes = 0;
    std::uint32_t checksum = 0;
    std::uint8_t buffer[kMaxBlockLength];
    while (result == hrOK) {
        std::uint32_t address = 0;
        std::uint16_t length = 0;
        result = reader->ReadBlock(address, buffer, length, kMaxBlockLength);
        if (result != hrOK)
            break;
        bytes += length;
        // Cheap on purpose: the figure is the reader's, not this loop's.
        checksum = checksum * 31u + address + (length ? buffer[0] + buffer[length - 1] : 0u);
    }
    reader->Close();
    if (result != hrEndOfFile) {
        std::fprintf(stderr, "tervolt-readbench: %s: %s\n", argv[3], qPrintable(HexFileErrorMessage(result)));
        return 2;
    }
    std::printf("%llu bytes, checksum %08x\n", static_cast<unsigned long long>(bytes), checksum);
    return 0;
}

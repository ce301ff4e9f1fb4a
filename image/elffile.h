#pragma once
// ELF images (32 and 64 bits, either byte order): the file data of the PT_LOAD program headers at
// their physical (load) addresses, in address order. The zero-filled rest of a segment (.bss) is not
// part of the image, and no section header is read. A segment that begins at file offset 0 holds the
// ELF and program headers too, and they are programmed with it: Note() says so.

#include "image/hexfiles.h"

#include <vector>

class TElfFile final : public TReadOnlyImageFile {
public:
    TElfFile() = default;

    void Reset() override;
    TImageFormat ReadsAs() const override { return TImageFormat::Elf; }

protected:
    THexResult ScanImage() override;
    THexResult ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                        std::uint16_t maxLength) override;

private:
    struct TSegment {
        std::uint32_t Address = 0;
        std::uint64_t Offset = 0;
        std::uint32_t Size = 0;
    };
    THexResult Fail(THexResult result, const QString& problem);
    THexResult ReadSegments();
    void NoteHeadersInSegments(std::uint64_t headerSize, std::uint64_t tableOffset, std::uint64_t tableSize);

    std::vector<TSegment> FSegments;
    std::size_t FSegment = 0;       // the segment being delivered
    std::uint32_t FSegmentDone = 0; // its bytes delivered so far
    THexResult FScanFault = hrOK;   // what the pre-scan found wrong
};

// The ELF reader on arbitrary files. Input: one byte that picks the caller's maximum block length (0 means
// the 200 the operations use), then the file's bytes. Checked: see fuzz/imagepass.h, twice over.

#include "fuzz/imagepass.h"
#include "fuzz/memoryfile.h"
#include "image/elffile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint16_t maxLength = data[0] == 0 ? 200 : data[0];
    static TMemoryFile image;
    image.Write(data + 1, size - 1);
    TElfFile first;
    TElfFile second;
    CheckSamePasses(ReadFuzzImage(first, image.Path(), maxLength, size - 1),
                    ReadFuzzImage(second, image.Path(), maxLength, size - 1));
    return 0;
}

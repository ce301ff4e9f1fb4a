// The ELF reader on arbitrary files: see fuzz/imagepass.h for the input and the checks.

#include "fuzz/imagepass.h"
#include "image/elffile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return FuzzReaderTwice<TElfFile>(data, size);
}

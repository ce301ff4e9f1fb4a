#include "fuzz/memoryfile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "memory file: %s: %s\n", what, std::strerror(errno));
    std::abort();
}

} // namespace

TMemoryFile::TMemoryFile() {
    FDescriptor = memfd_create("fuzz-input", MFD_CLOEXEC);
    if (FDescriptor < 0)
        Fail("memfd_create");
    FPath = QStringLiteral("/proc/self/fd/%1").arg(FDescriptor);
}

TMemoryFile::~TMemoryFile() {
    if (FDescriptor >= 0)
        close(FDescriptor);
}

void TMemoryFile::Write(const std::uint8_t* data, std::size_t size) {
    if (ftruncate(FDescriptor, 0) != 0)
        Fail("ftruncate");
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = pwrite(FDescriptor, data + done, size - done, off_t(done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            Fail("pwrite");
        done += std::size_t(written);
    }
}

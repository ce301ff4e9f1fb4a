#pragma once
// A file that lives in memory (memfd) and has a path, for code under test that opens files by name.
// Rewriting it for every input costs no disk traffic.

#include <QString>

#include <cstddef>
#include <cstdint>

class TMemoryFile {
public:
    TMemoryFile();
    ~TMemoryFile();
    TMemoryFile(const TMemoryFile&) = delete;
    TMemoryFile& operator=(const TMemoryFile&) = delete;

    // Replaces the whole content; aborts when the memory file cannot take it.
    void Write(const std::uint8_t* data, std::size_t size);
    // A name under /proc/self/fd: every open of it starts at offset 0.
    QString Path() const { return FPath; }

private:
    int FDescriptor = -1;
    QString FPath;
};

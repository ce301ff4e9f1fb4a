#pragma once
// The bytes of an image file, taken once for a run: a file rewritten while it is sent must not reach
// the board as a mix of two images. Up to kSnapshotBound the whole file is read into memory and every
// pass and every board reads that copy. A larger file is read again on each pass; its readers compare
// what each pass delivers with what the first pass delivered (see TAbsoluteHexFile).

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// Far above any FLASH the monitor drives, and small enough to hold in memory.
constexpr std::uint64_t kSnapshotBound = 64ull << 20;

class TImageSnapshot {
public:
    // The file's bytes, or (above the bound) only its name; nullptr with the name and the system's
    // reason in `detail` when the file cannot be read.
    static std::shared_ptr<TImageSnapshot> Take(const QString& fileName, QString& detail,
                                                std::uint64_t bound = kSnapshotBound);

    const QString& FileName() const { return FFileName; }
    // How much of a streamed file a reader holds at once.
    std::size_t WindowBytes() const { return FWindowBytes; }
    bool InMemory() const { return FInMemory; }
    const std::vector<std::uint8_t>& Bytes() const { return FBytes; }
    // The first `count` bytes, fewer when the file is shorter: from memory, or for a streamed file
    // read from it at once (no window). False with the name and the system's reason in `detail`.
    bool ReadHead(std::uint8_t* buffer, std::size_t& count, QString& detail) const;

    // For a streamed file: the first reader to measure it records the fingerprint of its blocks; every
    // later one must measure the same, or the file changed between boards. Always true in memory.
    bool SameAsFirstMeasure(std::uint64_t fingerprint);
    // A reader measured this streamed file whole before: a fault now means it changed since.
    bool MeasuredBefore();

private:
    QString FFileName;
    bool FInMemory = false;
    std::size_t FWindowBytes = 0;
    std::vector<std::uint8_t> FBytes;
    std::mutex FLock;
    std::optional<std::uint64_t> FFirstFingerprint;
};

// A reader's access to the snapshot: its memory, or a descriptor of its own and a window of the file.
class TImageBytes {
public:
    // nullptr with the name and the system's reason in `detail` when a streamed file cannot be opened.
    static std::unique_ptr<TImageBytes> Open(std::shared_ptr<TImageSnapshot> snapshot, QString& detail);
    ~TImageBytes();
    TImageBytes(const TImageBytes&) = delete;
    TImageBytes& operator=(const TImageBytes&) = delete;

    std::uint64_t Size() const { return FSize; }
    bool Streamed() const { return FFd >= 0; }
    TImageSnapshot& Snapshot() const { return *FSnapshot; }
    std::shared_ptr<TImageSnapshot> SnapshotShared() const { return FSnapshot; }

    // The bytes at `offset`: at least min(count, Size() - offset) of them, contiguous (count at most
    // kMaxView). nullptr when the file could not be read (or ended early); Error() says why.
    static constexpr std::size_t kMaxView = 1u << 20;
    const std::uint8_t* View(std::uint64_t offset, std::size_t count);
    const QString& Error() const { return FError; }
    // A new pass reads the file again.
    void Forget() { FWindowLength = 0; }

private:
    TImageBytes() = default;

    std::shared_ptr<TImageSnapshot> FSnapshot;
    std::uint64_t FSize = 0;
    int FFd = -1;
    std::vector<std::uint8_t> FWindow;
    std::uint64_t FWindowStart = 0;
    std::size_t FWindowLength = 0;
    QString FError;
};

// FNV-1a over the delivered blocks of a streamed image, with the address where a block does not follow
// the one before (`jump`): cheap, and any changed byte or address shows.
std::uint64_t FingerprintBlock(std::uint64_t fingerprint, bool jump, std::uint32_t address,
                               const std::uint8_t* data, std::uint16_t length);
constexpr std::uint64_t kFingerprintSeed = 0xcbf29ce484222325ull;

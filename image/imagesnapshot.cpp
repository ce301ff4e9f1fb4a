#include "image/imagesnapshot.h"

#include "files/systemfiles.h"

#include <algorithm>
#include <utility>

namespace {

constexpr unsigned kReadChunk = 1u << 20;
constexpr std::uint64_t kMinWindow = 4096; // above the longest piece a reader asks for
constexpr std::uint64_t kFnvPrime = 0x100000001b3ull;

// Closes the descriptor on every way out.
struct TDescriptor {
    int Fd = -1;
    ~TDescriptor() {
        if (Fd >= 0)
            CloseFileDescriptor(Fd);
    }
    int Release() { return std::exchange(Fd, -1); }
};

// Reads to the end, or to one byte past `bound`; false with `reason` on a read error. The measured
// size sets the buffer, and one byte more shows a file that grew meanwhile.
bool ReadUpTo(int fd, std::uint64_t bound, std::vector<std::uint8_t>& bytes, QString& reason) {
    const long long size = FileSizeOf(fd, reason);
    if (size < 0)
        return false;
    bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(std::uint64_t(size), bound) + 1));
    std::size_t have = 0;
    for (;;) {
        if (have == bytes.size()) {
            if (have > bound)
                break;
            bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(have + kReadChunk, bound + 1)));
        }
        const long long got =
            ReadFileAt(fd, have, bytes.data() + have, unsigned(bytes.size() - have), reason);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    bytes.resize(have);
    return true;
}

} // namespace

std::shared_ptr<TImageSnapshot> TImageSnapshot::Take(const QString& fileName, QString& detail,
                                                     std::uint64_t bound) {
    QString reason;
    TDescriptor file{OpenRegularFileForReading(fileName, reason)};
    auto snapshot = std::make_shared<TImageSnapshot>();
    snapshot->FFileName = fileName;
    if (file.Fd < 0 || !ReadUpTo(file.Fd, bound, snapshot->FBytes, reason)) {
        detail = QStringLiteral("%1: %2").arg(fileName, reason);
        return nullptr;
    }
    snapshot->FInMemory = snapshot->FBytes.size() <= bound;
    snapshot->FWindowBytes =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(bound, kMinWindow, TImageBytes::kMaxView));
    if (!snapshot->FInMemory)
        std::vector<std::uint8_t>().swap(snapshot->FBytes);
    return snapshot;
}

bool TImageSnapshot::ReadHead(std::uint8_t* buffer, std::size_t& count, QString& detail) const {
    if (FInMemory) {
        count = std::min(count, FBytes.size());
        std::copy_n(FBytes.begin(), count, buffer);
        return true;
    }
    QString reason;
    TDescriptor file{OpenRegularFileForReading(FFileName, reason)};
    std::size_t have = 0;
    while (file.Fd >= 0 && have < count) {
        const long long got = ReadFileAt(file.Fd, have, buffer + have, unsigned(count - have), reason);
        if (got < 0)
            break;
        if (got == 0) {
            count = have;
            return true;
        }
        have += static_cast<std::size_t>(got);
    }
    if (have == count)
        return true;
    detail = QStringLiteral("%1: %2").arg(FFileName, reason);
    return false;
}

bool TImageSnapshot::SameAsFirstMeasure(std::uint64_t fingerprint) {
    if (FInMemory)
        return true;
    const std::lock_guard<std::mutex> lock(FLock);
    if (!FFirstFingerprint)
        FFirstFingerprint = fingerprint;
    return *FFirstFingerprint == fingerprint;
}

bool TImageSnapshot::MeasuredBefore() {
    if (FInMemory)
        return false;
    const std::lock_guard<std::mutex> lock(FLock);
    return FFirstFingerprint.has_value();
}

std::unique_ptr<TImageBytes> TImageBytes::Open(std::shared_ptr<TImageSnapshot> snapshot, QString& detail) {
    std::unique_ptr<TImageBytes> bytes(new TImageBytes);
    bytes->FSnapshot = std::move(snapshot);
    if (bytes->FSnapshot->InMemory()) {
        bytes->FSize = bytes->FSnapshot->Bytes().size();
        return bytes;
    }
    // The descriptor stays on this file even if another is renamed over the name meanwhile.
    QString reason;
    TDescriptor file{OpenRegularFileForReading(bytes->FSnapshot->FileName(), reason)};
    const long long size = file.Fd >= 0 ? FileSizeOf(file.Fd, reason) : -1;
    if (size < 0) {
        detail = QStringLiteral("%1: %2").arg(bytes->FSnapshot->FileName(), reason);
        return nullptr;
    }
    bytes->FSize = static_cast<std::uint64_t>(size);
    bytes->FFd = file.Release();
    return bytes;
}

TImageBytes::~TImageBytes() {
    if (FFd >= 0)
        CloseFileDescriptor(FFd);
}

const std::uint8_t* TImageBytes::View(std::uint64_t offset, std::size_t count) {
    if (offset > FSize)
        offset = FSize;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, FSize - offset));
    if (!Streamed())
        return FSnapshot->Bytes().data() + offset;
    if (offset >= FWindowStart && offset + wanted <= FWindowStart + FWindowLength)
        return FWindow.data() + (offset - FWindowStart);
    // Refill from `offset`: the readers go forward, so the window runs ahead of them.
    const std::size_t window = std::max(FSnapshot->WindowBytes(), count);
    FWindow.resize(window);
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(window, FSize - offset));
    std::size_t have = 0;
    while (have < length) {
        const long long got =
            ReadFileAt(FFd, offset + have, FWindow.data() + have, unsigned(length - have), FError);
        if (got <= 0) {
            if (got == 0)
                FError = QStringLiteral("the file ended before its measured size");
            FWindowLength = 0;
            return nullptr;
        }
        have += static_cast<std::size_t>(got);
    }
    FWindowStart = offset;
    FWindowLength = length;
    return FWindow.data();
}

std::uint64_t FingerprintBlock(std::uint64_t fingerprint, bool jump, std::uint32_t address,
                               const std::uint8_t* data, std::uint16_t length) {
    for (int i = 0; jump && i < 4; ++i)
        fingerprint = (fingerprint ^ ((address >> (8 * i)) & 0xFF)) * kFnvPrime;
    for (std::uint16_t i = 0; i < length; ++i)
        fingerprint = (fingerprint ^ data[i]) * kFnvPrime;
    return fingerprint;
}

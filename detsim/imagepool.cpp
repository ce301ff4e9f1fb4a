#include "detsim/imagepool.h"

#include "detsim/decisions.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <stdexcept>

namespace {

constexpr int kPoolSize = 32;
constexpr std::uint64_t kPoolSeed = 0x7E5701;
constexpr std::uint32_t kRecordBytes = 16;

QByteArray IntelHexOf(const TPoolImage& image) {
    QByteArray text;
    char line[64];
    for (const auto& [address, bytes] : image.Segments) {
        for (std::size_t at = 0; at < bytes.size(); at += kRecordBytes) {
            const auto count = std::uint32_t(std::min<std::size_t>(kRecordBytes, bytes.size() - at));
            const std::uint32_t offset = address + std::uint32_t(at);
            std::uint32_t sum = count + (offset >> 8) + (offset & 0xFF);
            std::snprintf(line, sizeof line, ":%02X%04X00", count, offset);
            text += line;
            for (std::uint32_t i = 0; i < count; ++i) {
                std::snprintf(line, sizeof line, "%02X", bytes[at + i]);
                text += line;
                sum += bytes[at + i];
            }
            std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
            text += line;
        }
    }
    return text + ":00000001FF\n";
}

std::vector<TPoolImage> MakePool() {
    TSeededDecisions decisions(kPoolSeed);
    QTemporaryDir folder;
    if (!folder.isValid())
        throw std::runtime_error("no temporary folder for the simulated images");
    std::vector<TPoolImage> pool;
    for (int n = 0; n < kPoolSize; ++n) {
        TPoolImage image;
        std::uint32_t address = decisions.Below(256);
        const std::uint32_t segments = decisions.Between(1, 4);
        for (std::uint32_t s = 0; s < segments; ++s) {
            const std::uint32_t length = decisions.Between(1, 450);
            if (address + length > kSimFlashBytes)
                break;
            std::vector<std::uint8_t> bytes(length);
            for (std::uint8_t& byte : bytes)
                byte = decisions.Chance(100) ? 0xFF : std::uint8_t(decisions.Below(256));
            image.Segments.emplace_back(address, std::move(bytes));
            address += length + decisions.Between(1, 600);
        }
        const QString name = folder.filePath(QStringLiteral("image%1.hex").arg(n));
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(IntelHexOf(image)) < 0)
            throw std::runtime_error("cannot write a simulated image");
        file.close();
        QString detail;
        image.Snapshot = TImageSnapshot::Take(name, detail);
        if (!image.Snapshot || !image.Snapshot->InMemory())
            throw std::runtime_error("cannot read a simulated image back");
        pool.push_back(std::move(image));
    }
    return pool;
}

} // namespace

const std::vector<TPoolImage>& SimImagePool() {
    static const std::vector<TPoolImage> pool = MakePool();
    return pool;
}

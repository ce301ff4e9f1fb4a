#include "tests/support/hexwriter.h"

#include <QFile>

#include <algorithm>

QByteArray IntelHexRecord(std::uint8_t type, std::uint16_t offset, const QByteArray& data) {
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char(offset >> 8));
    bytes.append(char(offset & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    std::uint8_t sum = 0;
    for (char c : bytes)
        sum = std::uint8_t(sum + std::uint8_t(c));
    bytes.append(char(std::uint8_t(-sum)));
    return ':' + bytes.toHex().toUpper() + '\n';
}

QByteArray IntelHexText(const std::vector<std::pair<std::uint32_t, QByteArray>>& records, bool endRecord) {
    QByteArray text;
    std::uint32_t segment = 0;
    for (const auto& [address, data] : records) {
        // A new segment only when the offset would not fit in 16 bits; up to 0x10FFEF is reachable.
        const bool fits = address >= segment * 16 && address - segment * 16 <= 0xFFFF;
        const std::uint32_t wanted = fits ? segment : std::min<std::uint32_t>(address >> 4, 0xFFFF);
        if (wanted != segment) {
            segment = wanted;
            QByteArray value;
            value.append(char(segment >> 8));
            value.append(char(segment & 0xFF));
            text += IntelHexRecord(0x02, 0, value);
        }
        text += IntelHexRecord(0x00, std::uint16_t(address - segment * 16), data);
    }
    if (endRecord)
        text += ":00000001FF\n";
    return text;
}

bool WriteIntelHexFile(const QString& path, const std::vector<std::pair<std::uint32_t, QByteArray>>& records,
                       bool endRecord) {
    QFile file(path);
    const QByteArray text = IntelHexText(records, endRecord);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

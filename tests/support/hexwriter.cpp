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

QByteArray SRecordText(const std::vector<std::pair<std::uint32_t, QByteArray>>& records, int addressBytes) {
    const auto record = [&](int type, std::uint32_t address, const QByteArray& data) {
        QByteArray bytes;
        bytes.append(char(addressBytes + data.size() + 1));
        for (int i = addressBytes - 1; i >= 0; --i)
            bytes.append(char(address >> (8 * i)));
        bytes += data;
        unsigned sum = 0;
        for (const char c : bytes)
            sum += std::uint8_t(c);
        bytes.append(char(~sum));
        return 'S' + QByteArray::number(type) + bytes.toHex().toUpper() + '\n';
    };
    QByteArray text;
    for (const auto& [address, data] : records)
        text += record(addressBytes - 1, address, data);
    return text + record(11 - addressBytes, 0, {});
}

QByteArray ElfImage(const std::vector<std::pair<std::uint32_t, QByteArray>>& records,
                    std::uint32_t zeroFill) {
    constexpr int kHeader = 52;
    constexpr int kEntry = 32;
    const auto put = [](QByteArray& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char(value >> (8 * i)));
    };
    QByteArray out("\x7f"
                   "ELF\x01\x01\x01",
                   7);
    out.append(9, '\0');
    put(out, 2, 2);       // executable
    put(out, 40, 2);      // a 32-bit machine
    put(out, 1, 4);       // version
    put(out, 0, 4);       // entry
    put(out, kHeader, 4); // program headers
    put(out, 0, 4);       // no sections
    put(out, 0, 4);       // flags
    put(out, kHeader, 2);
    put(out, kEntry, 2);
    put(out, std::uint32_t(records.size()), 2);
    put(out, 0, 2);
    put(out, 0, 2);
    put(out, 0, 2);
    std::uint32_t offset = kHeader + kEntry * std::uint32_t(records.size());
    for (const auto& [address, data] : records) {
        put(out, 1, 4); // PT_LOAD
        put(out, offset, 4);
        put(out, address + 0x10000000u, 4); // a virtual address apart from the load address
        put(out, address, 4);
        put(out, std::uint32_t(data.size()), 4);
        put(out, std::uint32_t(data.size()) + zeroFill, 4);
        put(out, 6, 4);
        put(out, 4, 4);
        offset += std::uint32_t(data.size());
    }
    for (const auto& record : records)
        out += record.second;
    return out;
}

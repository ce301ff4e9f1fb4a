#pragma once
// A minimal Intel HEX writer for tests, independent of the reader under test: type 02 records for
// addresses above 64 KiB, an end record at the end.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

QByteArray IntelHexRecord(std::uint8_t type, std::uint16_t offset, const QByteArray& data);
QByteArray IntelHexText(const std::vector<std::pair<std::uint32_t, QByteArray>>& records, bool endRecord = true);
bool WriteIntelHexFile(const QString& path, const std::vector<std::pair<std::uint32_t, QByteArray>>& records,
                       bool endRecord = true);

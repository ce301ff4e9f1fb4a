#pragma once
// A minimal Intel HEX writer for tests, independent of the reader under test: type 02 records for
// addresses above 64 KiB, an end record at the end.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

QByteArray IntelHexRecord(std::uint8_t type, std::uint16_t offset, const QByteArray& data);
QByteArray IntelHexText(const std::vector<std::pair<std::uint32_t, QByteArray>>& records,
                        bool endRecord = true);
bool WriteIntelHexFile(const QString& path, const std::vector<std::pair<std::uint32_t, QByteArray>>& records,
                       bool endRecord = true);

// S-records with `addressBytes` (2, 3 or 4) address bytes: S1/S2/S3 data, then S7/S8/S9.
QByteArray SRecordText(const std::vector<std::pair<std::uint32_t, QByteArray>>& records, int addressBytes);
// A 32-bit little-endian ELF executable: one PT_LOAD segment per record at its physical address,
// each with `zeroFill` more bytes of memory than of file data (as a .bss adds).
QByteArray ElfImage(const std::vector<std::pair<std::uint32_t, QByteArray>>& records, std::uint32_t zeroFill);

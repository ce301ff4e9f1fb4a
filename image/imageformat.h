#pragma once
// The image formats, their names on the command line, and the one rule that picks a format from a
// file's first bytes and its extension.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

enum class TImageFormat {
    Auto,          // by content, then by extension
    IntelExtended, // Intel HEX records 00..03 only ("hex")
    IntelHex,      // Intel HEX records 00..05 ("ihex")
    SRecord,       // Motorola S-record ("srec")
    Elf,           // ELF executable, its PT_LOAD segments ("elf")
    Binary,        // raw bytes at a start address ("bin")
};

// "auto", "hex", "ihex", "srec", "elf", "bin".
QString ImageFormatName(TImageFormat format);
std::optional<TImageFormat> ImageFormatFromName(const QString& name);

// Binary for .rbf and .bin in any case, Auto otherwise: what a chosen or dropped file starts with.
TImageFormat ImageFormatOfFileName(const QString& fileName);

// Binary for a name ending .rbf or .bin, else the format of the bytes the file begins with (':' Intel
// HEX with records 04/05, "S0".."S9" S-record, 0x7F "ELF"); Auto when neither tells.
TImageFormat DetectImageFormat(const std::uint8_t* head, std::size_t length, const QString& fileName);

// What DetectImageFormat looks for, for the error of a file that fits none.
QString ImageFormatsLookedFor();

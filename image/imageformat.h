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

// The format a file's extension names: .hex .ihx .ihex .mcs Intel HEX, .s19 .s28 .s37 .srec .mot
// S-record, .elf .axf ELF, .bin .rbf binary; Auto for any other.
TImageFormat ImageFormatNamed(const QString& fileName);

// The format the bytes a file begins with point to: ':' Intel HEX with records 04/05, "S0".."S9"
// S-record, 0x7F "ELF"; Auto when none. Only a reading of the whole file proves it.
TImageFormat FormatOfHead(const std::uint8_t* head, std::size_t length);

// What FormatOfHead looks for, for the error of a file that fits none.
QString ImageFormatsLookedFor();

// The format as a message names it: "Intel HEX", "S-record", "ELF", "binary".
QString ImageFormatTitle(TImageFormat format);

// What a refused image suggests the user choose instead; each program words it for its own choices.
enum class TFormatAdvice {
    None,
    LinearRecords, // the strict Intel HEX reader met a record 04 or 05: the reader of 00..05 takes it
    RawOrSegments, // a name that says binary on a whole ELF file: raw bytes, or its segments
    RawOrRecords,  // a name that says binary on a whole Intel HEX or S-record file: raw bytes, or its records
    Raw,           // the format found by the first bytes did not read: raw bytes, if that is what it is
};

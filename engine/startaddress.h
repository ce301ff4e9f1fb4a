#pragma once
// The start-address field's rules: hexadecimal text with or without "0x" (or "0X"), at most 32 bits,
// shown back as exactly eight upper-case digits.

#include <QString>

#include <cstdint>
#include <optional>

// The value typed, or nothing when the text is not a hexadecimal number that fits in 32 bits.
// Eight digits with the top bit set give the negative number with the same bits.
std::optional<std::int32_t> ParseStartAddress(const QString& text);

// The field's text for a stored address: "00001234".
QString FormatStartAddress(std::int32_t address);

// The notice for text that is not an address: "\"12G4\" is illegal hexadecimal string".
QString StartAddressErrorText(const QString& typed);

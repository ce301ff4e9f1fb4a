#pragma once
// The command lines of the monitor protocol, byte for byte. Kept apart from the exchange so that a
// dry run prints exactly what a real run sends.

#include <QByteArray>

#include <cstdint>

inline constexpr char kCommandEnd = '\r';
// What a ping's answer holds after its echo line: an empty result line.
inline constexpr char kPingResult[] = "\r\n";

QByteArray PingCommand();     // CR alone
QByteArray IdentifyCommand(); // "P ID" CR
QByteArray InitCommand();     // "P INIT" CR
QByteArray ResetCommand();    // "P RESET" CR
// "P PROG 001A2B 12AB" CR: the address in at least six upper-case digits, two digits per byte.
QByteArray ProgramBlockCommand(std::uint32_t address, const std::uint8_t* data, std::uint16_t count);
QByteArray VerifyBlockCommand(std::uint32_t address, const std::uint8_t* data, std::uint16_t count);

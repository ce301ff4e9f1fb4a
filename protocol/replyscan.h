#pragma once
// Reading the monitor's answers to "P ID" and "P VERIFY": the whole result text, one line ended by
// CR LF, numbers read whole. Anything else is not one of these answers.

#include "protocol/compareresult.h"

#include <QByteArray>

// Longest device id or manufacturer token accepted; a longer one fails the identification.
inline constexpr int kMaxIdentToken = 50;

// "DeviceID: <id> Manufacturer: <maker>" CR LF; blanks between the words may be any run of spaces
// and tabs. The tokens are printable, without blanks or '>'. deviceId is filled as soon as its token
// is read, even when the rest of the answer fails.
bool ScanIdentifyReply(const QByteArray& reply, QByteArray& deviceId, QByteArray& manufacturer);

// "Compare error at address <a>: Expected: <e> Actual: <v>" CR LF, single spaces, hexadecimal digits
// in either case without prefix or sign: the address fits 32 bits, each value one byte. result is left
// as it was unless the answer is one.
bool ScanCompareReply(const QByteArray& reply, TCompareResult& result);

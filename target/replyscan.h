#pragma once
// Reading the monitor's answers to "P ID" and "P VERIFY" the way the C library's scanf reads them.

#include "target/compareresult.h"

#include <QByteArray>

// Longest device id or manufacturer token accepted; a longer one fails the identification.
inline constexpr int kMaxIdentToken = 50;

// "DeviceID: %s Manufacturer: %s". deviceId may be filled although the manufacturer is missing.
bool ScanIdentifyReply(const QByteArray& reply, QByteArray& deviceId, QByteArray& manufacturer);

// "Compare error at address %lx: Expected: %x Actual: %x"; only the low 16 bits of the values are kept.
bool ScanCompareReply(const QByteArray& reply, TCompareResult& result);

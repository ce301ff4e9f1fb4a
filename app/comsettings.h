#pragma once
// The per-user COM settings: QSettings("VELUM", "Tervolt"), group ComSettings, values COMPort and
// BaudRate as 32-bit integers (the port number and the baud-rate code).

#include <QString>

#include <cstdint>
#include <optional>

struct TStoredComSettings {
    std::optional<std::int32_t> Port;      // 1 = COM1 ...
    std::optional<std::int32_t> BaudRate;  // the baud-rate code: 13 = 115200 ...
    // The first value that is not a 32-bit integer stops the reading, as the registry reader does:
    // "Invalid data type for 'COMPort'", or "Failed to get data for 'COMPort'" when it does not fit.
    QString Error;
};

TStoredComSettings ReadStoredComSettings();
void WriteStoredComSettings(std::int32_t port, std::int32_t baudRate);
bool StoredComSettingsExist();

#pragma once
// The per-user COM settings: group ComSettings of the user settings file, values COMPort and BaudRate
// as 32-bit integers (the port number and the baud-rate code), and the window's AutoRetries. The window and
// tervolt-cli read them here and nowhere else, so the same stored values mean the same line to both.

#include <QString>

#include <cstdint>
#include <optional>

struct TStoredComSettings {
    // Only values the line can use: COM1..COM256 and the codes 1 (110) to 15 (256000). A stored value
    // outside them stays empty, so the default is kept, and its warning says so.
    std::optional<std::int32_t> Port;     // 1 = COM1 ...
    std::optional<std::int32_t> BaudRate; // the baud-rate code: 13 = 115200 ...
    // How often the window sends a failed command again before it asks (0 to kMaxAutoRetries).
    std::optional<std::int32_t> AutoRetries;
    // The first value that is not a 32-bit integer stops the reading, as the registry reader does:
    // "Invalid data type for 'COMPort'", or "Failed to get data for 'COMPort'" when it does not fit.
    // A settings file that is no regular file is not read at all and says so here.
    QString Error;
    QString PortWarning; // "COMPort=259 is out of range (1 to 256); the default is kept"
    QString BaudRateWarning;
    QString AutoRetriesWarning;
};

inline constexpr std::int32_t kMaxAutoRetries = 9;

TStoredComSettings ReadStoredComSettings();
// Nothing is written when the settings file is no regular file.
void WriteStoredComSettings(std::int32_t port, std::int32_t baudRate, std::int32_t autoRetries = 0);
bool StoredComSettingsExist();

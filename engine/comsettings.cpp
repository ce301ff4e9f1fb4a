#include "engine/comsettings.h"

#include "files/usersettings.h"
#include "serial/commport.h"

#include <QRegularExpression>

namespace {

const QString kGroup = QStringLiteral("ComSettings");
const QString kPortValue = QStringLiteral("COMPort");
const QString kBaudRateValue = QStringLiteral("BaudRate");
const QString kAutoRetriesValue = QStringLiteral("AutoRetries");
constexpr std::int32_t kLowestPort = 1; // COM1
constexpr std::int32_t kHighestPort = kHighestComNumber;
constexpr std::int32_t kLowestRateCode = 1;   // 110
constexpr std::int32_t kHighestRateCode = 15; // 256000

// Reads one value; false (with the message) when it is present but not a 32-bit integer.
bool ReadInt32(const QSettings& settings, const QString& name, std::optional<std::int32_t>& value,
               QString& error) {
    if (!settings.contains(name))
        return true;
    static const QRegularExpression kDecimal(QStringLiteral("^[+-]?[0-9]+$"));
    const QVariant stored = settings.value(name);
    const QString text = stored.toString().trimmed();
    if (!StoredAsInteger(stored) || !kDecimal.match(text).hasMatch()) {
        error = QStringLiteral("Invalid data type for '%1'").arg(name);
        return false;
    }
    bool fits = false;
    const int number = text.toInt(&fits, 10);
    if (!fits) {
        error = QStringLiteral("Failed to get data for '%1'").arg(name);
        return false;
    }
    value = number;
    return true;
}

// A value the line cannot use is dropped, with a warning saying which default stays.
void KeepInRange(std::optional<std::int32_t>& value, const QString& name, std::int32_t lowest,
                 std::int32_t highest, QString& warning) {
    if (!value || (*value >= lowest && *value <= highest))
        return;
    warning = QStringLiteral("%1=%2 is out of range (%3 to %4); the default is kept")
                  .arg(name)
                  .arg(*value)
                  .arg(lowest)
                  .arg(highest);
    value.reset();
}

} // namespace

TStoredComSettings ReadStoredComSettings() {
    TStoredComSettings stored;
    const std::unique_ptr<QSettings> settings = OpenUserSettings(&stored.Error);
    if (!settings)
        return stored;
    settings->beginGroup(kGroup);
    if (ReadInt32(*settings, kPortValue, stored.Port, stored.Error))
        ReadInt32(*settings, kBaudRateValue, stored.BaudRate, stored.Error);
    // The window's own value: a bad one costs only itself, never the line.
    if (QString problem; !ReadInt32(*settings, kAutoRetriesValue, stored.AutoRetries, problem))
        stored.AutoRetriesWarning = problem + QStringLiteral("; no automatic retries");
    KeepInRange(stored.Port, kPortValue, kLowestPort, kHighestPort, stored.PortWarning);
    KeepInRange(stored.BaudRate, kBaudRateValue, kLowestRateCode, kHighestRateCode, stored.BaudRateWarning);
    KeepInRange(stored.AutoRetries, kAutoRetriesValue, 0, kMaxAutoRetries, stored.AutoRetriesWarning);
    return stored;
}

void WriteStoredComSettings(std::int32_t port, std::int32_t baudRate, std::int32_t autoRetries) {
    const std::unique_ptr<QSettings> settings = OpenUserSettings();
    if (!settings)
        return;
    settings->beginGroup(kGroup);
    settings->setValue(kPortValue, port);
    settings->setValue(kBaudRateValue, baudRate);
    settings->setValue(kAutoRetriesValue, autoRetries);
}

bool StoredComSettingsExist() {
    const std::unique_ptr<QSettings> settings = OpenUserSettings();
    return settings && settings->childGroups().contains(kGroup);
}

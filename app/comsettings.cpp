#include "app/comsettings.h"

#include <QRegularExpression>
#include <QSettings>

namespace {

const QString kGroup = QStringLiteral("ComSettings");
const QString kPortValue = QStringLiteral("COMPort");
const QString kBaudRateValue = QStringLiteral("BaudRate");

// Reads one value; false (with the message) when it is present but not a 32-bit integer.
bool ReadInt32(const QSettings& settings, const QString& name, std::optional<std::int32_t>& value,
               QString& error) {
    if (!settings.contains(name))
        return true;
    static const QRegularExpression kDecimal(QStringLiteral("^[+-]?[0-9]+$"));
    const QString text = settings.value(name).toString().trimmed();
    if (!kDecimal.match(text).hasMatch()) {
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

} // namespace

TStoredComSettings ReadStoredComSettings() {
    QSettings settings(QStringLiteral("VELUM"), QStringLiteral("Tervolt"));
    settings.beginGroup(kGroup);
    TStoredComSettings stored;
    if (ReadInt32(settings, kPortValue, stored.Port, stored.Error))
        ReadInt32(settings, kBaudRateValue, stored.BaudRate, stored.Error);
    return stored;
}

void WriteStoredComSettings(std::int32_t port, std::int32_t baudRate) {
    QSettings settings(QStringLiteral("VELUM"), QStringLiteral("Tervolt"));
    settings.beginGroup(kGroup);
    settings.setValue(kPortValue, port);
    settings.setValue(kBaudRateValue, baudRate);
}

bool StoredComSettingsExist() {
    QSettings settings(QStringLiteral("VELUM"), QStringLiteral("Tervolt"));
    return settings.childGroups().contains(kGroup);
}

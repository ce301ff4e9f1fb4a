#include "files/usersettings.h"

#include <QVariant>

// The registry key Tervolt's users already have, read without the machine-wide fallback
// (HKEY_LOCAL_MACHINE) that the organisation/application form of QSettings would add.
QString UserSettingsFile() {
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\VELUM\\Tervolt");
}

std::unique_ptr<QSettings> OpenUserSettings(QString*) {
    return std::make_unique<QSettings>(UserSettingsFile(), QSettings::NativeFormat);
}

// QSettings reads a REG_DWORD as int and writes an int as REG_DWORD; a REG_SZ comes back as a string
// and a REG_QWORD as a 64-bit number: both are the wrong type, whatever they hold.
bool StoredAsInteger(const QVariant& value) {
    return value.typeId() == QMetaType::Int;
}

// Registry strings are UTF-16, as the names are: they keep any name as it is.
QVariant StoredFileName(const QString& name) {
    return name;
}

QString FileNameFromStored(const QVariant& value) {
    return value.toString();
}

#include "files/usersettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString UserSettingsFile() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("VELUM/Tervolt.conf"));
}

std::unique_ptr<QSettings> OpenUserSettings(QString* problem) {
    const QString file = UserSettingsFile();
    const QFileInfo info(file); // stat(): never blocks, never opens
    if (info.exists() && !info.isFile()) {
        if (problem)
            *problem = QStringLiteral("%1 is not a regular file").arg(file);
        return nullptr;
    }
    // The INI format names the file on every system; the native format would read it as a registry
    // path on Windows.
    return std::make_unique<QSettings>(file, QSettings::IniFormat);
}

bool StoredAsInteger(const QVariant&) {
    return true;
}

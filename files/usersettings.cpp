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
    return std::make_unique<QSettings>(file, QSettings::NativeFormat);
}

#include "devices/deviceslocation.h"

#include "devices/devicesdb.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString TDevicesFileLocation::NotFoundText() const {
    QStringList shown;
    for (const QString& candidate : Tried)
        shown << QDir::toNativeSeparators(candidate);
    return QStringLiteral("%1 not found; looked for %2")
        .arg(kDevicesFileName, shown.join(QStringLiteral(", then ")));
}

TDevicesFileLocation LocateDevicesFile(const QString& programDirectory) {
    // TERVOLT_DATA_DIR_FROM_BIN: the installed data folder relative to the installed bin folder; empty
    // where an install keeps the list beside the programs, and the per-user list is looked for next.
    return LocateDevicesFile(programDirectory, QStringLiteral(TERVOLT_DATA_DIR_FROM_BIN));
}

TDevicesFileLocation LocateDevicesFile(const QString& programDirectory, const QString& installed) {
    const QDir program(programDirectory);
    TDevicesFileLocation location;
    location.Tried << QDir::cleanPath(program.filePath(kDevicesFileName));
    if (!installed.isEmpty())
        location.Tried << QDir::cleanPath(program.filePath(installed + QLatin1Char('/') + kDevicesFileName));
    else if (const QString user = UserDevicesFile(); !user.isEmpty())
        location.Tried << user;
    for (const QString& candidate : location.Tried) {
        // A broken file is still the one meant: it is reported, not skipped for the next candidate.
        const QFileInfo info(candidate);
        if (info.exists() && !info.isDir()) {
            location.Path = candidate;
            break;
        }
    }
    return location;
}

QString UserDevicesFile() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : QDir(data).filePath(QStringLiteral("tervolt/") + kDevicesFileName);
}

bool LoadDeviceLists(TDevicesList& list, const QString& path, QString& error) {
    if (!list.LoadFromFile(path)) {
        error = list.LastFailure();
        return false;
    }
    const QString user = UserDevicesFile();
    if (user.isEmpty() || !QFileInfo::exists(user) || QFileInfo(user) == QFileInfo(path))
        return true;
    if (!list.LoadFromFile(user)) {
        error = QStringLiteral("the per-user list: %1").arg(list.LastFailure());
        return false;
    }
    return true;
}

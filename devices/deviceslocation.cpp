#include "devices/deviceslocation.h"

#include "devices/devicesdb.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString TDevicesFileLocation::NotFoundText() const {
    return QStringLiteral("%1 not found; looked for %2")
        .arg(kDevicesFileName, Tried.join(QStringLiteral(", then ")));
}

TDevicesFileLocation LocateDevicesFile(const QString& programDirectory) {
    const QDir program(programDirectory);
    // TERVOLT_DATA_DIR_FROM_BIN: the installed data folder relative to the installed bin folder.
    TDevicesFileLocation location;
    location.Tried << QDir::cleanPath(program.filePath(kDevicesFileName))
                   << QDir::cleanPath(
                          program.filePath(QStringLiteral(TERVOLT_DATA_DIR_FROM_BIN "/") + kDevicesFileName));
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

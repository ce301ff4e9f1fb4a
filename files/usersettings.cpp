#include "files/usersettings.h"

#include "files/systemfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

QString UserSettingsFile() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("VELUM/Tervolt.conf"));
}

namespace {

// A file the settings may be written over: empty, or text that starts as an INI file does. Anything
// else (an image a link was pointed at by mistake) would be destroyed by the next save.
bool LooksLikeSettings(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    for (const char c : file.read(256)) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        return c == '[' || c == ';' || c == '#';
    }
    return true;
}

} // namespace

std::unique_ptr<QSettings> OpenUserSettings(QString* problem) {
    const QString file = UserSettingsFile();
    const QFileInfo info(file); // stat(): never blocks, never opens
    if (info.exists() && !info.isFile()) {
        if (problem)
            *problem = QStringLiteral("%1 is not a regular file").arg(file);
        return nullptr;
    }
    // Saving writes through a link to its target: only when that target is a settings file itself.
    if (info.isSymLink() && info.exists() && !LooksLikeSettings(file)) {
        if (problem)
            *problem = QStringLiteral("%1 is a link to %2, which is not a settings file")
                           .arg(file, info.canonicalFilePath());
        return nullptr;
    }
    // The INI format names the file on every system; the native format would read it as a registry
    // path on Windows.
    return std::make_unique<QSettings>(file, QSettings::IniFormat);
}

bool StoredAsInteger(const QVariant&) {
    return true;
}

QVariant StoredFileName(const QString& name) {
    const QByteArray bytes = SystemFileName(name);
    if (bytes == name.toUtf8())
        return name;
    return bytes;
}

QString FileNameFromStored(const QVariant& value) {
    return value.typeId() == QMetaType::QByteArray ? FileNameFromSystem(value.toByteArray())
                                                   : value.toString();
}

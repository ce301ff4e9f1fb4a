#include "files/usersettings.h"

#include "files/systemfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>

QString UserSettingsFile() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("VELUM/Tervolt.conf"));
}

namespace {

// The groups this program writes; QSettings keeps keys outside any group under [General].
constexpr std::array<const char*, 4> kOwnGroups{"General", "ComSettings", "Ports", "Window"};
// Far above what the settings ever hold.
constexpr qint64 kLargestSettingsBytes = 1 << 20;

// A file the settings may be written over: empty, or INI text of this program's own groups, every
// line a comment, a group or a key=value pair. Anything else (an image, a device list, a trace that
// a link was pointed at by mistake) would be destroyed by the next save.
bool LooksLikeSettings(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestSettingsBytes)
        return false;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            const QByteArray group = line.endsWith(']') ? line.mid(1, line.size() - 2) : QByteArray();
            if (std::none_of(kOwnGroups.begin(), kOwnGroups.end(),
                             [&group](const char* own) { return group == own; }))
                return false;
            continue;
        }
        if (line.indexOf('=') <= 0)
            return false;
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

#include "cli/portlist.h"

#include "serial/comm_posix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStringList>

#include <cstdio>

namespace {

constexpr int kHighestComNumber = 16;

// A ttyS node exists for every possible UART; only those with a UART behind them are listed. The
// kernel says so in sysfs, so the port is never opened (opening toggles DTR/RTS and may reset a board).
bool HasUart(const QString& path) {
    QFile type(QStringLiteral("/sys/class/tty/%1/type").arg(QFileInfo(path).fileName()));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const int value = type.readAll().trimmed().toInt(&ok);
    return ok && value != 0;
}

} // namespace

int PrintPortList() {
    QStringList devices;
    const QDir dev(QStringLiteral("/dev"));
    for (const QString& name : dev.entryList({"ttyUSB*", "ttyACM*"}, QDir::System, QDir::Name))
        devices << dev.filePath(name);
    for (const QString& name : dev.entryList({"ttyS*"}, QDir::System, QDir::Name))
        if (HasUart(dev.filePath(name)))
            devices << dev.filePath(name);

    QMap<QString, QString> byId;
    const QDir idDir(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : idDir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        byId.insert(link.canonicalFilePath(), link.fileName());

    QMap<QString, QStringList> comNames;
    for (int n = 1; n <= kHighestComNumber; ++n) {
        const QString resolved = QFileInfo(ResolvePortName(QStringLiteral("\\\\.\\COM%1").arg(n))).canonicalFilePath();
        if (!resolved.isEmpty())
            comNames[resolved] << QStringLiteral("COM%1").arg(n);
    }

    if (devices.isEmpty())
        std::printf("No serial devices found.\n");
    for (const QString& device : devices) {
        const QString canonical = QFileInfo(device).canonicalFilePath();
        QString line = device;
        if (byId.contains(canonical))
            line += QStringLiteral("  (") + byId.value(canonical) + QLatin1Char(')');
        const QStringList names = comNames.value(canonical);
        line += names.isEmpty() ? QStringLiteral("  no COMn name") : QStringLiteral("  ") + names.join(", ");
        std::printf("%s\n", line.toLocal8Bit().constData());
    }
    return 0;
}

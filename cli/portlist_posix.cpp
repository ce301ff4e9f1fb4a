#include "cli/portlist.h"

#include "files/usersettings.h"
#include "serial/comm_posix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int kDefaultComNames = 16;

// Pseudo-terminal slaves (Unix 98): a simulator keeps its own side open, which is no other user.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;

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

// The lock's owner is gone: the file names a process that does not exist (the HDB form, the PID as
// text; an older binary form is read as its four bytes). A file that names none is kept as a lock.
bool LockIsStale(const QString& lock) {
    QFile file(lock);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = file.read(64);
    bool text = false;
    qint64 pid = content.trimmed().toLongLong(&text);
    if (!text && content.size() == 4) {
        std::int32_t binary = 0;
        std::memcpy(&binary, content.constData(), sizeof binary);
        pid = binary;
    }
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return false;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// A UUCP lock file, as terminal programs leave them: the port is another program's, unless the
// program that left it has ended.
QString LockFileOf(const QString& device) {
    const QString base = QFileInfo(device).fileName();
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        const QString lock = QStringLiteral("%1/LCK..%2").arg(QLatin1String(folder), base);
        if (QFile::exists(lock) && !LockIsStale(lock))
            return lock;
    }
    return QString();
}

bool DeviceNumber(const QString& path, dev_t& device) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    device = info.st_rdev;
    return true;
}

// Other processes that hold one of `devices` open, by device number: a program we may not disturb.
// Only the processes this user may look into are seen (all of them as root).
QMap<dev_t, QString> Holders(const QSet<dev_t>& devices) {
    QMap<dev_t, QString> held;
    const QString self = QString::number(::getpid());
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid == self || pid.toInt() <= 0)
            continue;
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            dev_t device = 0;
            if (!DeviceNumber(fds.filePath(fd), device) || !devices.contains(device) || held.contains(device))
                continue;
            QFile comm(proc.filePath(pid + QStringLiteral("/comm")));
            const QString name =
                comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : QString();
            held.insert(device, QStringLiteral("pid %1 (%2)").arg(pid, name));
        }
    }
    return held;
}

// COMn names given in the settings' Ports group, by number.
QMap<int, QString> MappedComNames() {
    QMap<int, QString> mapped;
    for (const int n : SystemComNumbers())
        mapped.insert(n, QStringLiteral("COM%1").arg(n));
    return mapped;
}

} // namespace

std::vector<TSerialPortEntry> ListSerialPorts() {
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
    // The names of the default mapping (COMn is /dev/ttyS<n-1>) and those mapped in the settings.
    QList<int> comNumbers;
    for (int n = 1; n <= kDefaultComNames; ++n)
        comNumbers << n;
    for (const int n : SystemComNumbers())
        if (!comNumbers.contains(n))
            comNumbers << n;
    for (const int n : comNumbers) {
        const QString resolved =
            QFileInfo(ResolvePortName(QStringLiteral("\\\\.\\COM%1").arg(n))).canonicalFilePath();
        if (!resolved.isEmpty())
            comNames[resolved] << QStringLiteral("COM%1").arg(n);
    }

    std::vector<TSerialPortEntry> entries;
    QSet<QString> listed;
    for (const QString& device : devices) {
        const QString canonical = QFileInfo(device).canonicalFilePath();
        TSerialPortEntry entry;
        entry.Name = entry.Device = device;
        entry.Detail = byId.value(canonical);
        entry.ComNames = comNames.value(canonical);
        entries.push_back(entry);
        listed.insert(canonical);
    }
    // A mapped name whose target is no device of the list above (a pseudo-terminal, a link to one).
    const QMap<int, QString> mapped = MappedComNames();
    for (auto it = mapped.begin(); it != mapped.end(); ++it) {
        const QString target = ResolvePortName(it.value());
        const QString canonical = QFileInfo(target).canonicalFilePath();
        if (canonical.isEmpty() || listed.contains(canonical))
            continue;
        TSerialPortEntry entry;
        entry.Name = it.value();
        entry.Device = target;
        entry.Detail = canonical == target ? QString() : QStringLiteral("-> ") + canonical;
        entry.ComNames = comNames.value(canonical);
        entries.push_back(entry);
        listed.insert(canonical);
    }

    QSet<dev_t> numbers;
    for (TSerialPortEntry& entry : entries) {
        entry.LockFile = LockFileOf(entry.Device);
        dev_t device = 0;
        if (DeviceNumber(entry.Device, device) &&
            (major(device) < kFirstPtyMajor || major(device) > kLastPtyMajor))
            numbers.insert(device);
    }
    if (!numbers.isEmpty()) {
        const QMap<dev_t, QString> held = Holders(numbers);
        for (TSerialPortEntry& entry : entries) {
            dev_t device = 0;
            if (DeviceNumber(entry.Device, device))
                entry.HeldBy = held.value(device);
        }
    }
    return entries;
}

int PrintPortList() {
    const std::vector<TSerialPortEntry> entries = ListSerialPorts();
    if (entries.empty())
        std::printf("No serial devices found.\n");
    for (const TSerialPortEntry& entry : entries) {
        QString line = entry.Device;
        if (!entry.Detail.isEmpty())
            line += QStringLiteral("  (") + entry.Detail + QLatin1Char(')');
        line += entry.ComNames.isEmpty() ? QStringLiteral("  no COMn name")
                                         : QStringLiteral("  ") + entry.ComNames.join(", ");
        if (const QString inUse = InUseText(entry); !inUse.isEmpty())
            line += QStringLiteral("  ") + inUse;
        std::printf("%s\n", line.toLocal8Bit().constData());
    }
    return 0;
}

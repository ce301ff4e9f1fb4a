#include "cli/portlist.h"

QString InUseText(const TSerialPortEntry& entry) {
    if (!entry.HeldBy.isEmpty())
        return QStringLiteral("in use by ") + entry.HeldBy;
    if (!entry.LockFile.isEmpty())
        return QStringLiteral("in use (%1)").arg(entry.LockFile);
    return QString();
}

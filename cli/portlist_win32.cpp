#include "cli/portlist.h"

#include "serial/comm_win32.h"

#include <QList>
#include <QPair>
#include <QString>

#include <algorithm>
#include <cstdio>

#include <windows.h>

std::vector<TSerialPortEntry> ListSerialPorts() {
    QList<QPair<QString, QString>> ports; // COM name, device
    long error = 0;
    std::vector<TSerialPortEntry> entries;
    if (!ReadSerialComm(ports, error))
        return entries;
    for (const auto& [com, device] : ports) {
        TSerialPortEntry entry;
        entry.Name = com;
        entry.Device = QStringLiteral("\\\\.\\") + com;
        entry.Detail = device;
        entry.ComNames = QStringList{com};
        entries.push_back(entry);
    }
    return entries;
}

int PrintPortList() {
    QList<QPair<QString, QString>> ports; // COM name, device
    long error = 0;
    if (!ReadSerialComm(ports, error)) {
        std::fprintf(stderr, "cannot read the list of serial ports (error %ld)\n", error);
        return 1;
    }
    if (ports.isEmpty())
        std::printf("No serial devices found.\n");
    for (const auto& [com, device] : ports)
        std::printf("%s  (%s)\n", qPrintable(com), qPrintable(device));
    return 0;
}

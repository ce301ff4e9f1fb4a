#pragma once
// The serial ports of this machine, as `tervolt-cli ports` lists them and `--port auto` probes them.

#include <QString>
#include <QStringList>

#include <vector>

struct TSerialPortEntry {
    QString Name;   // what the user names it by: the device path, or COMn for a mapped name alone
    QString Device; // the device it opens
    QString Detail; // a stable name (/dev/serial/by-id), or where a mapped name leads
    QStringList ComNames;
    QString HeldBy;   // another program that has it open, when known ("pid 123 (minicom)")
    QString LockFile; // a lock file another program left for it, where the system has them
};

// Serial devices present, then COMn names mapped in the settings to anything else that exists (a
// pseudo-terminal, a link). Nothing is opened.
std::vector<TSerialPortEntry> ListSerialPorts();

// Why the port is not free ("in use by pid 123 (minicom)", "in use (/run/lock/LCK..ttyS0)"); empty
// when nothing shows that it is taken. `ports` prints it and `--port auto` leaves such a port alone.
QString InUseText(const TSerialPortEntry& entry);

// Prints the list; returns the exit status.
int PrintPortList();

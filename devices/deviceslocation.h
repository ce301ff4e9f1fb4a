#pragma once
// Where the programs find devices.tervolt when no file is named: beside the executable first, so that
// a portable copy keeps its own list, then in the installed data folder. That folder is found relative
// to the executable's folder (bin/../share/tervolt), so an installed tree that is moved still works; a
// Windows install keeps the list beside the programs, and the per-user list is looked for next.
// A per-user list ($XDG_DATA_HOME/tervolt/devices.tervolt) adds chips to the one found there.

#include <QString>
#include <QStringList>

inline const QString kDevicesFileName = QStringLiteral("devices.tervolt");

struct TDevicesFileLocation {
    QString Path;      // the first candidate that exists; empty when none does
    QStringList Tried; // every candidate, in the order they are tried
    // Where the list was looked for, for a failure message.
    QString NotFoundText() const;
};

TDevicesFileLocation LocateDevicesFile(const QString& programDirectory);
// The same for a program whose installed data folder lies elsewhere relative to it (the Python
// module): `installedFromProgram` is that folder relative to `programDirectory`.
TDevicesFileLocation LocateDevicesFile(const QString& programDirectory, const QString& installedFromProgram);

class TDevicesList;

// The per-user list: devices.tervolt in the user's data folder ($XDG_DATA_HOME/tervolt, by default
// ~/.local/share/tervolt; %LOCALAPPDATA%\tervolt on Windows), whether it exists or not.
QString UserDevicesFile();

// Loads `path` into `list`, then the per-user list when there is one. False with `error` set when
// either cannot be loaded: a broken per-user list is reported, not skipped.
bool LoadDeviceLists(TDevicesList& list, const QString& path, QString& error);

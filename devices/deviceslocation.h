#pragma once
// Where the programs find devices.tervolt when no file is named: beside the executable first, so that
// a portable copy keeps its own list, then in the installed data folder. That folder is found relative
// to the executable's folder (bin/../share/tervolt), so an installed tree that is moved still works.

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

#pragma once
// Opening the line for tervolt-cli: port and rate from the options, then the per-user settings, then
// COM2 and 115200 as in the window.

#include "cli/clioptions.h"

#include <QString>
#include <QStringList>

#include <cstdint>

class TCommProtocol;

struct TLinkSettings {
    QString PortName; // "\\.\COMn" or a device path
    QString Shown;    // the name the user knows: "COMn" for a COM number, else the name as given
    QString Device;   // PortName resolved once (ResolvePortName): what is opened, traced and compared
    std::uint32_t Baud = 115200;
    QString Error; // a port name that names no port: a usage error
};

// `port` empty: the stored port, then COM2.
TLinkSettings ResolveLinkSettings(const TCliOptions& options, const QString& port, QStringList& warnings);

// Applies the settings and connects; on failure `error` holds the system's reason.
bool OpenLink(TCommProtocol& protocol, const TLinkSettings& settings, QString& error);

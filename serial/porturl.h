#pragma once
// Network port names: rfc2217://HOST:PORT (a serial server with Telnet port control) and
// socket://HOST:PORT (the line's bytes over TCP as they are).

#include <QString>

#include <cstdint>

struct TPortUrl {
    bool PortControl = false; // rfc2217://
    QString Host;             // a name or an address; IPv6 without its brackets
    std::uint16_t Port = 0;
};

// Whether `name` is meant as a network port (its scheme), well formed or not.
bool IsNetworkPortName(const QString& name);
// Empty when `name` is a well-formed network port name (then `url` holds it), else why not.
QString ParsePortUrl(const QString& name, TPortUrl& url);

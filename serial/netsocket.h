#pragma once
// A TCP connection for a network serial port, non-blocking, Nagle's algorithm off. One file per
// platform behind this interface (netsocket_posix.cpp, netsocket_win32.cpp), chosen by CMake.

#include "serial/commport.h"

#include <QString>

#include <cstdint>

class TNetSocket {
public:
    TNetSocket() = default;
    ~TNetSocket(); // closes
    TNetSocket(const TNetSocket&) = delete;
    TNetSocket& operator=(const TNetSocket&) = delete;

    // Resolves `host` and connects to the first address that answers within `timeoutMs` in all.
    // On failure Error() says why, with the system's text.
    bool Connect(const QString& host, std::uint16_t port, int timeoutMs);
    void Close();
    bool IsOpen() const;
    TCommHandle Handle() const;
    // Bytes taken (> 0), 0 when nothing is there now, -1 when the peer closed or the connection
    // failed (Closed() tells which happened; Error() says it).
    std::int64_t Receive(void* buffer, std::uint32_t size);
    // Bytes sent (>= 0, 0 when the system holds no more now), -1 on failure.
    std::int64_t Send(const void* data, std::uint32_t size);
    // Waits without using the processor until the socket is readable (or writable), the time runs
    // out or the connection fails.
    TCommWaitResult Wait(bool forWrite, int timeoutMs);
    const QString& Error() const { return FError; }

private:
    void AcknowledgeAtOnce();

    TCommHandle FSocket = kInvalidCommHandle;
    QString FError;
};

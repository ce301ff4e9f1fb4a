#pragma once
// The Windows serial layer: a non-overlapped COM handle with read time-outs that return at once, and
// a one-byte look-ahead so that a wait for input blocks inside ReadFile instead of polling.

#include "serial/commport.h"

#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>
#include <memory>

// The COM names and devices the serial port drivers list (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), COM2
// before COM10; false (and the registry's `error`) when the list cannot be read.
bool ReadSerialComm(QList<QPair<QString, QString>>& ports, long& error);

// What a failed call's Windows error code means for an open port.
enum class TWin32PortError : std::uint8_t {
    Vanished,     // the device is gone (a USB adapter was pulled): close it
    NoModemLines, // the device has no modem lines (a virtual port): nothing to do
    Failed,       // anything else: the call failed, the port stays
};
TWin32PortError ClassifyWin32PortError(std::uint32_t code);

// The message for a failed open; the system's text is appended by the caller.
QString Win32OpenFailureText(const QString& path, std::uint32_t code, const QString& systemText);

class TCommPortWin32 final : public TCommPort {
public:
    TCommPortWin32();
    ~TCommPortWin32() override;

    bool Open(const QString& name) override;
    void Adopt(TCommHandle handle) override;
    void Release() override;
    void Close() override;
    bool IsOpen() const override { return FHandle != kInvalidCommHandle; }
    TCommHandle Handle() const override { return FHandle; }
    bool IsGone() const override { return FGone; }
    // A COM handle is no socket: the driver polls on its timer only.
    bool CanNotifyReadable() const override { return false; }

    bool SetLineState(const TCommLineState& state) override;
    bool SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize) override;
    void SetWriteTimeout(int timeoutMs) override;
    bool Purge(bool input, bool output) override;

    bool QueuedIn(std::uint32_t& count) override;
    bool QueuedOut(std::uint32_t& count) override;
    std::int64_t Read(void* buffer, std::uint32_t size) override;
    std::int64_t Write(const void* data, std::uint32_t size) override;
    TCommWaitResult WaitReadable(int timeoutMs) override;
    TCommWaitResult WaitWritable(int timeoutMs) override;

    std::uint8_t ModemLines() override;
    void SetDTR(bool on) override;
    void SetRTS(bool on) override;

    QString LastFailure() const override { return FLastFailure; }
    QString DevicePath() const { return FPath; }
    // The line settings the driver reports now (GetCommState).
    bool ReadLineState(TCommLineState& state);

private:
    // Records a failed call (GetLastError()); false.
    bool Fail(const QString& what);
    bool FailWith(const QString& what, std::uint32_t code);
    // ClearCommError's queue counts (the look-ahead byte included in `in`).
    bool QueueCounts(const QString& what, std::uint32_t& in, std::uint32_t& out);
    // Sets the read time-outs: 0 returns at once with what is there, more waits for the first byte.
    bool SetReadWait(int timeoutMs);
    void Escape(unsigned function);
    void RestoreAndClose();

    TCommHandle FHandle = kInvalidCommHandle;
    QString FPath;
    QString FLastFailure;
    bool FGone = false;
    bool FOwned = false;   // opened here: settings restored on close
    struct TSavedSettings; // the DCB and time-outs found at open, restored on close
    std::unique_ptr<TSavedSettings> FSaved;
    int FWriteTimeoutMs = 10;
    int FReadWaitMs = -1;     // the read time-out in force (-1: not set yet)
    bool FHavePeeked = false; // a byte read by WaitReadable, handed out first by Read
    std::uint8_t FPeeked = 0;
};

#pragma once
// The Linux serial layer: termios on a non-blocking descriptor, custom rates through termios2.

#include "serial/commport.h"

#include <cstdint>

// The kernel's termios2 (rates as plain numbers). Declared here because <asm/termbits.h>, which
// has it, clashes with <termios.h>.
struct termios2 {
    std::uint32_t c_iflag;
    std::uint32_t c_oflag;
    std::uint32_t c_cflag;
    std::uint32_t c_lflag;
    std::uint8_t c_line;
    std::uint8_t c_cc[19];
    std::uint32_t c_ispeed;
    std::uint32_t c_ospeed;
};

// The line settings a terminal device holds now, read through termios2 so that custom rates show.
bool ReadPosixLineState(int fd, TCommLineState& state);

class TCommPortPosix final : public TCommPort {
public:
    TCommPortPosix() = default;
    ~TCommPortPosix() override;

    bool Open(const QString& name) override;
    void Adopt(TCommHandle handle) override;
    void Release() override;
    void Close() override;
    bool IsOpen() const override { return FFd >= 0; }
    TCommHandle Handle() const override { return FFd >= 0 ? TCommHandle(FFd) : kInvalidCommHandle; }
    bool IsGone() const override { return FGone; }
    bool CanNotifyReadable() const override { return true; }

    bool SetLineState(const TCommLineState& state) override;
    bool SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize) override;
    void SetWriteTimeout(int timeoutMs) override { FWriteTimeoutMs = timeoutMs < 0 ? 0 : timeoutMs; }
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
    // The device path the last Open() resolved to.
    QString DevicePath() const { return FPath; }
    // Whether Open() turned the device's low-latency mode on (it is turned off again on close).
    bool LowLatencySet() const { return FLowLatencySet; }

private:
    bool Fail(const QString& what, int err);
    void NoteHangup();
    TCommWaitResult Wait(short events, int timeoutMs);
    void ModemLine(int bit, bool on);
    bool IsPseudoTerminal() const;
    // Low-latency mode for the time the port is open, on devices that have it (USB adapters).
    void RequestLowLatency();
    void RestoreLatency();
    void RestoreAndClose();

    int FFd = -1;
    QString FPath;
    QString FLastFailure;
    bool FGone = false;
    bool FExclusive = false;
    bool FHaveOriginal = false;
    termios2 FOriginal{};        // found at open, restored on close
    bool FLowLatencySet = false; // we turned low latency on at open and turn it off on close
    int FWriteTimeoutMs = 10;
    bool FBlocking = false; // an adopted descriptor without O_NONBLOCK
};

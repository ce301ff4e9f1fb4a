#pragma once
// The serial device services the port driver relies on. Each platform supplies one implementation
// file, chosen by CMake (comm_posix.cpp on Linux, comm_win32.cpp on Windows); the driver never sees a
// system call.

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A native device handle: a file descriptor on Linux, a HANDLE on Windows.
using TCommHandle = std::intptr_t;
inline constexpr TCommHandle kInvalidCommHandle = -1;
// Passed to the driver's SetHandle: forget the handle without closing it.
inline constexpr TCommHandle kReleaseCommHandle = -2;

enum TCommParity : std::uint8_t { cpaNone, cpaOdd, cpaEven, cpaMark, cpaSpace };
enum TCommStopBits : std::uint8_t { csbOne, csbOneHalf, csbTwo };
enum TCommRtsMode : std::uint8_t { crmOff, crmOn, crmHandshake };

// Everything that goes into one line set-up.
struct TCommLineState {
    std::uint32_t BaudRate = 9600;
    std::uint8_t ByteSize = 8; // 5..8
    TCommParity Parity = cpaNone;
    TCommStopBits StopBits = csbOne;
    bool DtrOn = true;
    TCommRtsMode Rts = crmOn; // crmHandshake also means output waits for CTS
    bool XonXoff = false;     // both directions
    std::uint8_t XonChar = 17;
    std::uint8_t XoffChar = 19;
};

// Modem input lines as reported by ModemLines().
enum : std::uint8_t { cmlCTS = 1, cmlDSR = 2, cmlRING = 4, cmlCD = 8 };

// Receives what a port has to say about its line besides the bytes (a serial server's negotiation).
using TCommNoteSink = std::function<void(const QString& text)>;

enum TCommWaitResult : std::uint8_t { cwrReady, cwrTimeout, cwrGone };

class TCommPort {
public:
    virtual ~TCommPort();
    TCommPort(const TCommPort&) = delete;
    TCommPort& operator=(const TCommPort&) = delete;

    // Opens a device exclusively, as it is given: resolving a name (ResolvePortName) is the caller's.
    virtual bool Open(const QString& name) = 0;
    // Takes over a handle opened elsewhere; it is closed by Close() from then on.
    virtual void Adopt(TCommHandle handle) = 0;
    // Forgets the handle without closing it.
    virtual void Release() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual TCommHandle Handle() const = 0;
    // Set after the device vanished (unplugged, hung up); the owner is expected to Close().
    virtual bool IsGone() const = 0;
    // Whether Handle() can be watched with a socket notifier for readable data.
    virtual bool CanNotifyReadable() const = 0;

    virtual bool SetLineState(const TCommLineState& state) = 0;
    virtual bool SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize) = 0;
    // The longest a single Write() may wait for room in the device.
    virtual void SetWriteTimeout(int timeoutMs) = 0;
    virtual bool Purge(bool input, bool output) = 0;

    // False when the count cannot be had; IsGone() tells whether the device vanished.
    virtual bool QueuedIn(std::uint32_t& count) = 0;
    virtual bool QueuedOut(std::uint32_t& count) = 0;
    // Reads what is available now, up to `size` bytes. -1 on failure.
    virtual std::int64_t Read(void* buffer, std::uint32_t size) = 0;
    // Writes what fits, waiting at most the write time-out for room. -1 on failure.
    virtual std::int64_t Write(const void* data, std::uint32_t size) = 0;
    // Blocks without using the processor until the device can move data, the time runs out or it vanishes.
    virtual TCommWaitResult WaitReadable(int timeoutMs) = 0;
    virtual TCommWaitResult WaitWritable(int timeoutMs) = 0;

    // cml* bits; 0 when the device has no modem lines or the query fails.
    virtual std::uint8_t ModemLines() = 0;
    virtual void SetDTR(bool on) = 0;
    virtual void SetRTS(bool on) = 0;

    // The last failure in words, with the system's own text.
    virtual QString LastFailure() const = 0;
    // A local device has nothing to note.
    virtual void SetNoteSink(TCommNoteSink) {}

protected:
    TCommPort() = default;
};

// The port for any name: a network port for rfc2217:// and socket:// (after ResolvePortName), else the
// platform's serial device.
std::unique_ptr<TCommPort> CreateCommPort();
// The platform's serial device alone.
std::unique_ptr<TCommPort> CreateLocalCommPort();

// The highest COM number a port name or a stored setting may carry.
constexpr int kHighestComNumber = 256;

// The COM numbers this machine has, in order: on Windows those its serial drivers list, on Linux those
// the per-user settings map to a device (group "Ports").
std::vector<int> SystemComNumbers();

// The device a port name stands for: "\\.\COMn" (or "COMn") through the per-user settings, group
// "Ports", key "COMn" (a device path or a network port's URL); a path or a URL as it is. Called once
// for each open, by whoever names the port: the ports open what they are given.
QString ResolvePortName(const QString& name);

// The number of a COM name, "COMn" or "\\.\COMn" in any case (n as written, 0 included; range checks
// are the caller's); empty for any other name. The one reader of COM names.
std::optional<int> ComNumberOf(const QString& name);

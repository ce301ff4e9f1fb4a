#include "serial/comm_win32.h"

#include "serial/linestate.h"

#include <QList>
#include <QPair>

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

#include <windows.h>

namespace {

constexpr auto kCloseDrainLimit = std::chrono::milliseconds(500);
constexpr auto kDrainPause = std::chrono::milliseconds(5);
// WaitWritable has no readiness to wait for on a non-overlapped handle (WriteFile itself waits up to
// the write time-out): it pauses this long at most before the caller tries again.
constexpr int kWritablePauseMs = 5;
// ERROR_NO_SUCH_DEVICE, which MinGW's headers lack.
constexpr DWORD kErrorNoSuchDevice = 433;

HANDLE NativeHandle(TCommHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

QString SystemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString result = length ? QString::fromWCharArray(text, int(length)).trimmed()
                            : QStringLiteral("system error %1").arg(code);
    LocalFree(text);
    return QStringLiteral("%1 (error %2)").arg(result).arg(code);
}

BYTE ParityCode(TCommParity parity) {
    switch (parity) {
    case cpaOdd:
        return ODDPARITY;
    case cpaEven:
        return EVENPARITY;
    case cpaMark:
        return MARKPARITY;
    case cpaSpace:
        return SPACEPARITY;
    case cpaNone:
        break;
    }
    return NOPARITY;
}

TCommParity ParityOf(BYTE code) {
    switch (code) {
    case ODDPARITY:
        return cpaOdd;
    case EVENPARITY:
        return cpaEven;
    case MARKPARITY:
        return cpaMark;
    case SPACEPARITY:
        return cpaSpace;
    default:
        return cpaNone;
    }
}

BYTE StopBitsCode(TCommStopBits stopBits) {
    switch (stopBits) {
    case csbOneHalf:
        return ONE5STOPBITS;
    case csbTwo:
        return TWOSTOPBITS;
    case csbOne:
        break;
    }
    return ONESTOPBIT;
}

// The whole line state in the driver's terms. Any rate goes to the driver as a number; it refuses
// what it cannot run.
void SetDcb(const TCommLineState& state, DCB& dcb) {
    dcb.BaudRate = state.BaudRate;
    dcb.fBinary = TRUE;
    dcb.fParity = state.Parity != cpaNone;
    dcb.ByteSize = std::clamp<std::uint8_t>(state.ByteSize, 5, 8);
    dcb.Parity = ParityCode(state.Parity);
    dcb.StopBits = StopBitsCode(state.StopBits);
    dcb.fOutxCtsFlow = state.Rts == crmHandshake;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = state.DtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = state.Rts == crmHandshake ? RTS_CONTROL_HANDSHAKE
                      : state.Rts == crmOn      ? RTS_CONTROL_ENABLE
                                                : RTS_CONTROL_DISABLE;
    dcb.fOutX = state.XonXoff;
    dcb.fInX = state.XonXoff;
    dcb.XonChar = char(state.XonChar);
    dcb.XoffChar = char(state.XoffChar);
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE; // an error must not stop every later read and write until cleared
}

TCommStopBits StopBitsOf(BYTE code) {
    return code == ONE5STOPBITS ? csbOneHalf : code == TWOSTOPBITS ? csbTwo : csbOne;
}

// The serial port drivers list the COM names they created under this key, one value per port:
// the kernel device as the name, "COMn" as the data.
constexpr wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kMaxNameChars = 256;

// RAII for an open registry key.
class TRegistryKey {
public:
    TRegistryKey(HKEY parent, const wchar_t* path) {
        FStatus = RegOpenKeyExW(parent, path, 0, KEY_QUERY_VALUE, &FKey);
    }
    ~TRegistryKey() {
        if (FStatus == ERROR_SUCCESS)
            RegCloseKey(FKey);
    }
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;
    LONG Status() const { return FStatus; }
    HKEY Get() const { return FKey; }

private:
    HKEY FKey{};
    LONG FStatus;
};

} // namespace

struct TCommPortWin32::TSavedSettings {
    DCB Dcb{};
    COMMTIMEOUTS Timeouts{};
};

TWin32PortError ClassifyWin32PortError(std::uint32_t code) {
    switch (code) {
    // What USB serial drivers answer once their device was removed: usbser and most vendors' drivers
    // fail with "access denied" or "bad command", others with "device not connected/removed".
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_OPERATION_ABORTED:
    case kErrorNoSuchDevice:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_FILE_NOT_FOUND:
        return TWin32PortError::Vanished;
    // A port without modem lines (a virtual port, or Wine on a pseudo-terminal).
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return TWin32PortError::NoModemLines;
    default:
        return TWin32PortError::Failed;
    }
}

QString Win32OpenFailureText(const QString& path, std::uint32_t code, const QString& systemText) {
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        // Windows opens a COM port for one handle only; a second open is refused this way.
        return QStringLiteral("cannot open %1: %2 (device is in use)").arg(path, systemText);
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("cannot open %1: %2 (no such port)").arg(path, systemText);
    default:
        return QStringLiteral("cannot open %1: %2").arg(path, systemText);
    }
}

TCommPort::~TCommPort() = default;

std::unique_ptr<TCommPort> CreateLocalCommPort() {
    return std::make_unique<TCommPortWin32>();
}

QString ResolvePortName(const QString& name) {
    // "COMn" becomes "\\.\COMn": the device namespace is the only way to COM10 and above.
    const std::optional<int> number = ComNumberOf(name);
    return number && *number >= 1 ? QStringLiteral("\\\\.\\COM%1").arg(*number) : name;
}

TCommPortWin32::TCommPortWin32() = default;

TCommPortWin32::~TCommPortWin32() {
    Close();
}

bool TCommPortWin32::FailWith(const QString& what, std::uint32_t code) {
    if (ClassifyWin32PortError(code) == TWin32PortError::Vanished) {
        FGone = true;
        FLastFailure = QStringLiteral("connection to %1 lost: %2").arg(FPath, SystemText(code));
    } else {
        FLastFailure = QStringLiteral("%1 %2: %3").arg(what, FPath, SystemText(code));
    }
    return false;
}

bool TCommPortWin32::Fail(const QString& what) {
    return FailWith(what, GetLastError());
}

bool TCommPortWin32::Open(const QString& name) {
    Close();
    FGone = false;
    FLastFailure.clear();
    FPath = name;
    if (FPath.isEmpty()) {
        FLastFailure = QStringLiteral("cannot open a port without a name");
        return false;
    }
    // No sharing: Windows refuses every further open of the port while this handle lives.
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(FPath.utf16()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        FLastFailure = Win32OpenFailureText(FPath, code, SystemText(code));
        return false;
    }
    auto saved = std::make_unique<TSavedSettings>();
    saved->Dcb.DCBlength = sizeof(DCB);
    if (GetFileType(handle) != FILE_TYPE_CHAR || !GetCommState(handle, &saved->Dcb) ||
        !GetCommTimeouts(handle, &saved->Timeouts)) {
        FLastFailure = QStringLiteral("cannot open %1: not a serial device").arg(FPath);
        CloseHandle(handle);
        return false;
    }
    FHandle = reinterpret_cast<TCommHandle>(handle);
    FSaved = std::move(saved);
    FOwned = true;
    FReadWaitMs = -1;
    if (!SetReadWait(0)) {
        Close();
        return false;
    }
    return true;
}

void TCommPortWin32::Adopt(TCommHandle handle) {
    Close();
    FGone = false;
    FLastFailure.clear();
    FPath = QStringLiteral("handle %1").arg(handle);
    FHandle = handle;
    FOwned = false;
    FReadWaitMs = -1;
    SetReadWait(0);
}

void TCommPortWin32::Release() {
    FHandle = kInvalidCommHandle;
    FSaved.reset();
    FOwned = false;
    FHavePeeked = false;
}

void TCommPortWin32::Close() {
    if (FHandle == kInvalidCommHandle)
        return;
    RestoreAndClose();
    Release();
}

void TCommPortWin32::RestoreAndClose() {
    const HANDLE handle = NativeHandle(FHandle);
    if (!FGone) {
        // CloseHandle waits for queued output: give it a short while, then drop it.
        const auto end = std::chrono::steady_clock::now() + kCloseDrainLimit;
        std::uint32_t queued = 0;
        while (QueuedOut(queued) && queued > 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(kDrainPause);
        PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
        if (FSaved && FOwned) {
            SetCommState(handle, &FSaved->Dcb);
            SetCommTimeouts(handle, &FSaved->Timeouts);
        }
    }
    CloseHandle(handle);
}

bool TCommPortWin32::SetReadWait(int timeoutMs) {
    if (timeoutMs == FReadWaitMs)
        return true;
    COMMTIMEOUTS timeouts{};
    // MAXDWORD / 0 / 0: ReadFile returns at once with what is queued. MAXDWORD / MAXDWORD / n: it
    // returns as soon as one byte is there, or after n ms with nothing.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = timeoutMs > 0 ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutConstant = timeoutMs > 0 ? DWORD(timeoutMs) : 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = DWORD(std::max(FWriteTimeoutMs, 1));
    if (!SetCommTimeouts(NativeHandle(FHandle), &timeouts))
        return Fail(QStringLiteral("cannot set the time-outs of"));
    FReadWaitMs = timeoutMs;
    return true;
}

void TCommPortWin32::SetWriteTimeout(int timeoutMs) {
    FWriteTimeoutMs = std::max(timeoutMs, 0);
    if (FHandle == kInvalidCommHandle)
        return;
    const int readWait = FReadWaitMs;
    FReadWaitMs = -1; // force the write time-out in
    SetReadWait(std::max(readWait, 0));
}

bool TCommPortWin32::ReadLineState(TCommLineState& state) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(NativeHandle(FHandle), &dcb))
        return Fail(QStringLiteral("cannot read the settings of"));
    state.BaudRate = dcb.BaudRate;
    state.ByteSize = dcb.ByteSize;
    state.Parity = ParityOf(dcb.Parity);
    state.StopBits = StopBitsOf(dcb.StopBits);
    state.DtrOn = dcb.fDtrControl != DTR_CONTROL_DISABLE;
    state.Rts = dcb.fRtsControl == RTS_CONTROL_HANDSHAKE ? crmHandshake
                : dcb.fRtsControl == RTS_CONTROL_DISABLE ? crmOff
                                                         : crmOn;
    state.XonXoff = dcb.fOutX && dcb.fInX;
    state.XonChar = std::uint8_t(dcb.XonChar);
    state.XoffChar = std::uint8_t(dcb.XoffChar);
    return true;
}

bool TCommPortWin32::SetLineState(const TCommLineState& state) {
    if (const QString error = LineStateRequestError(FHandle != kInvalidCommHandle, state, FPath);
        !error.isEmpty()) {
        FLastFailure = error;
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(NativeHandle(FHandle), &dcb))
        return Fail(QStringLiteral("cannot read the settings of"));
    SetDcb(state, dcb);
    if (!SetCommState(NativeHandle(FHandle), &dcb))
        return Fail(QStringLiteral("cannot apply %1 baud and the line settings to").arg(state.BaudRate));

    // The driver may round the rate; check what it runs at.
    TCommLineState actual;
    if (!ReadLineState(actual))
        return false;
    FLastFailure = RateReadBackError(state.BaudRate, actual.BaudRate, FPath);
    return FLastFailure.isEmpty();
}

bool TCommPortWin32::SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize) {
    if (FHandle == kInvalidCommHandle) {
        FLastFailure = QStringLiteral("the port is not open");
        return false;
    }
    if (!SetupComm(NativeHandle(FHandle), inSize, outSize))
        return Fail(QStringLiteral("cannot set the queue sizes of"));
    return true;
}

bool TCommPortWin32::Purge(bool input, bool output) {
    if (FHandle == kInvalidCommHandle)
        return false;
    DWORD flags = 0;
    if (input) {
        flags |= PURGE_RXABORT | PURGE_RXCLEAR;
        FHavePeeked = false;
    }
    if (output)
        flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (flags && !PurgeComm(NativeHandle(FHandle), flags))
        return Fail(QStringLiteral("cannot discard the queues of"));
    return true;
}

bool TCommPortWin32::QueueCounts(const QString& what, std::uint32_t& in, std::uint32_t& out) {
    in = 0;
    out = 0;
    if (FHandle == kInvalidCommHandle)
        return false;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(NativeHandle(FHandle), &errors, &status))
        return Fail(what);
    in = status.cbInQue + (FHavePeeked ? 1 : 0);
    out = status.cbOutQue;
    return true;
}

bool TCommPortWin32::QueuedIn(std::uint32_t& count) {
    std::uint32_t out = 0;
    return QueueCounts(QStringLiteral("cannot count the input of"), count, out);
}

bool TCommPortWin32::QueuedOut(std::uint32_t& count) {
    std::uint32_t in = 0;
    return QueueCounts(QStringLiteral("cannot count the output of"), in, count);
}

std::int64_t TCommPortWin32::Read(void* buffer, std::uint32_t size) {
    if (FHandle == kInvalidCommHandle)
        return -1;
    if (size == 0)
        return 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::uint32_t taken = 0;
    if (FHavePeeked) {
        bytes[0] = FPeeked;
        FHavePeeked = false;
        taken = 1;
        if (size == 1)
            return 1;
    }
    if (!SetReadWait(0))
        return taken ? std::int64_t(taken) : -1;
    DWORD n = 0;
    if (!ReadFile(NativeHandle(FHandle), bytes + taken, size - taken, &n, nullptr)) {
        Fail(QStringLiteral("cannot read from"));
        return taken ? std::int64_t(taken) : -1;
    }
    return std::int64_t(taken + n);
}

std::int64_t TCommPortWin32::Write(const void* data, std::uint32_t size) {
    if (FHandle == kInvalidCommHandle)
        return -1;
    if (size == 0)
        return 0;
    // WriteFile waits up to the write time-out for room and reports what it moved.
    DWORD n = 0;
    if (!WriteFile(NativeHandle(FHandle), data, size, &n, nullptr)) {
        const DWORD code = GetLastError();
        if (code == ERROR_SEM_TIMEOUT || code == WAIT_TIMEOUT)
            return std::int64_t(n);
        FailWith(QStringLiteral("cannot write to"), code);
        return -1;
    }
    return std::int64_t(n);
}

TCommWaitResult TCommPortWin32::WaitReadable(int timeoutMs) {
    if (FHandle == kInvalidCommHandle || FGone)
        return cwrGone;
    std::uint32_t queued = 0;
    if (QueuedIn(queued) && queued > 0)
        return cwrReady;
    if (FGone)
        return cwrGone;
    if (timeoutMs <= 0)
        return cwrTimeout;
    // Blocks in the driver until a byte comes or the time is up; the byte is kept for Read.
    DWORD n = 0;
    DWORD code = ERROR_SUCCESS;
    if (!SetReadWait(timeoutMs) || !ReadFile(NativeHandle(FHandle), &FPeeked, 1, &n, nullptr))
        code = GetLastError();
    SetReadWait(0);
    if (code != ERROR_SUCCESS) {
        FailWith(QStringLiteral("cannot wait for"), code);
        if (FGone)
            return cwrGone;
        // A device that fails without vanishing still gets no faster retries than its time-out.
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return cwrTimeout;
    }
    if (n == 1) {
        FHavePeeked = true;
        return cwrReady;
    }
    return cwrTimeout;
}

TCommWaitResult TCommPortWin32::WaitWritable(int timeoutMs) {
    if (FHandle == kInvalidCommHandle || FGone)
        return cwrGone;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(timeoutMs, 0, kWritablePauseMs)));
    std::uint32_t queued = 0;
    if (!QueuedOut(queued) && FGone)
        return cwrGone;
    return cwrReady;
}

std::uint8_t TCommPortWin32::ModemLines() {
    if (FHandle == kInvalidCommHandle)
        return 0;
    DWORD lines = 0;
    if (!GetCommModemStatus(NativeHandle(FHandle), &lines)) {
        const DWORD code = GetLastError();
        if (ClassifyWin32PortError(code) == TWin32PortError::Vanished)
            FailWith(QString(), code);
        return 0;
    }
    std::uint8_t result = 0;
    if (lines & MS_CTS_ON)
        result |= cmlCTS;
    if (lines & MS_DSR_ON)
        result |= cmlDSR;
    if (lines & MS_RING_ON)
        result |= cmlRING;
    if (lines & MS_RLSD_ON)
        result |= cmlCD;
    return result;
}

void TCommPortWin32::Escape(unsigned function) {
    if (FHandle == kInvalidCommHandle)
        return;
    // A port without modem lines refuses; that is no reason to fail.
    if (!EscapeCommFunction(NativeHandle(FHandle), function)) {
        const DWORD code = GetLastError();
        if (ClassifyWin32PortError(code) == TWin32PortError::Vanished)
            FailWith(QString(), code);
    }
}

void TCommPortWin32::SetDTR(bool on) {
    Escape(on ? SETDTR : CLRDTR);
}

void TCommPortWin32::SetRTS(bool on) {
    Escape(on ? SETRTS : CLRRTS);
}

// The COM names and devices the serial port drivers list, COM2 before COM10; false (and `error`) when
// the list cannot be read.
bool ReadSerialComm(QList<QPair<QString, QString>>& ports, long& error) {
    TRegistryKey key(HKEY_LOCAL_MACHINE, kSerialCommKey);
    // No key at all means no serial port driver ever started: no ports.
    if (key.Status() == ERROR_SUCCESS) {
        for (DWORD index = 0;; ++index) {
            wchar_t name[kMaxNameChars];
            wchar_t data[kMaxNameChars];
            DWORD nameChars = kMaxNameChars;
            DWORD dataBytes = sizeof(data) - sizeof(wchar_t);
            DWORD type = 0;
            const LONG status = RegEnumValueW(key.Get(), index, name, &nameChars, nullptr, &type,
                                              reinterpret_cast<BYTE*>(data), &dataBytes);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            if (status != ERROR_SUCCESS) {
                error = status;
                return false;
            }
            if (type != REG_SZ)
                continue;
            data[dataBytes / sizeof(wchar_t)] = L'\0';
            ports.append({QString::fromWCharArray(data), QString::fromWCharArray(name, int(nameChars))});
        }
    } else if (key.Status() != ERROR_FILE_NOT_FOUND) {
        error = key.Status();
        return false;
    }
    const auto number = [](const QString& com) { return ComNumberOf(com).value_or(0); };
    std::sort(ports.begin(), ports.end(), [&](const auto& a, const auto& b) {
        return number(a.first) != number(b.first) ? number(a.first) < number(b.first) : a.first < b.first;
    });
    return true;
}

std::vector<int> SystemComNumbers() {
    QList<QPair<QString, QString>> ports;
    long error = 0;
    std::vector<int> numbers;
    if (!ReadSerialComm(ports, error))
        return numbers;
    for (const auto& [com, device] : ports) {
        const std::optional<int> number = ComNumberOf(com);
        if (number && *number >= 1 && *number <= kHighestComNumber)
            numbers.push_back(*number);
    }
    return numbers;
}

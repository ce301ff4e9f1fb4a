#include "cli/portlist.h"

#include <QList>
#include <QPair>
#include <QString>

#include <algorithm>
#include <cstdio>

#include <windows.h>

namespace {

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
    const auto number = [](const QString& com) { return com.mid(3).toInt(); };
    std::sort(ports.begin(), ports.end(), [&](const auto& a, const auto& b) {
        return number(a.first) != number(b.first) ? number(a.first) < number(b.first) : a.first < b.first;
    });
    return true;
}

} // namespace

std::vector<TSerialPortEntry> ListSerialPorts() {
    QList<QPair<QString, QString>> ports; // COM name, device
    long error = 0;
    std::vector<TSerialPortEntry> entries;
    if (!ReadSerialComm(ports, error))
        return entries;
    for (const auto& [com, device] : ports) {
        TSerialPortEntry entry;
        entry.Name = com;
        entry.Device = QStringLiteral("\\\\.\\") + com;
        entry.Detail = device;
        entry.ComNames = QStringList{com};
        entries.push_back(entry);
    }
    return entries;
}

int PrintPortList() {
    QList<QPair<QString, QString>> ports; // COM name, device
    long error = 0;
    if (!ReadSerialComm(ports, error)) {
        std::fprintf(stderr, "cannot read the list of serial ports (error %ld)\n", error);
        return 1;
    }
    if (ports.isEmpty())
        std::printf("No serial devices found.\n");
    for (const auto& [com, device] : ports)
        std::printf("%s  (%s)\n", qPrintable(com), qPrintable(device));
    return 0;
}

// tervolt-devicesbench: writes a device list of N devices (one section each, as a real list holds
// them), loads it as a run does and prints the file's size, the load time and the growth of the peak
// resident size.
//
//     tervolt-devicesbench N

#include "devices/devicesdb.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// User and system time: the figure that a loaded machine does not change.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const long count = argc == 2 ? std::strtol(argv[1], nullptr, 10) : 0;
    if (count <= 0) {
        std::fputs("Usage: tervolt-devicesbench N\n", stderr);
        return 64;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("devices.tervolt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write("[Header]\nCompany=VELUM Technologies "
                   "Ltd.\nDestination=Tervolt\n[GeneralInfo]\nSupportedDevices=" +
                   QByteArray::number(qint64(count)) + "\n");
        static const char* const kMakers[] = {"VELUM", "ZELVORA", "AKRON", "MIRELTA"};
        for (long i = 0; i < count; ++i)
            file.write("[Device" + QByteArray::number(qint64(i)) + "]\nManufacturer=" + kMakers[i % 4] +
                       "\nID=VF" + QByteArray::number(qint64(i), 16).toUpper() + "\n");
    }
    const qint64 bytes = QFileInfo(path).size();
    const long before = PeakKiB();
    const double cpuBefore = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    TDevicesList list;
    const bool loaded = list.LoadFromFile(path);
    const qint64 ms = clock.elapsed();
    const double cpuMs = (CpuSeconds() - cpuBefore) * 1000.0;
    const long grown = PeakKiB() - before;
    std::printf(
        "%ld devices, %.1f MB file: %s in %lld ms (%.0f ms of processor time), peak resident +%.1f MB "
        "(%.1f x the file)\n",
        count, double(bytes) / 1e6, loaded ? "loaded" : "refused", static_cast<long long>(ms), cpuMs,
        double(grown) / 1024.0, double(grown) * 1024.0 / double(bytes));
    return loaded ? 0 : 1;
}

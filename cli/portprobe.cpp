#include "cli/portprobe.h"

#include "cli/boardthreads.h"
#include "cli/clilink.h"
#include "cli/portlist.h"
#include "target/comm_protocol.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr int kProbeTickMs = 50;

// A UUCP lock file, as terminal programs leave them: the port is another program's.
QString LockFileOf(const QString& device) {
    const QString base = QFileInfo(device).fileName();
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        const QString lock = QStringLiteral("%1/LCK..%2").arg(QLatin1String(folder), base);
        if (QFile::exists(lock))
            return lock;
    }
    return QString();
}

} // namespace

std::vector<TProbedPort> ProbePorts(const TCliOptions& options) {
    const std::vector<TSerialPortEntry> entries = ListSerialPorts();
    std::vector<TProbedPort> probed(entries.size());
    std::vector<TLinkSettings> links;
    for (size_t i = 0; i < entries.size(); ++i) {
        probed[i].Name = entries[i].Name;
        QStringList ignored;  // the stored settings' warnings were said already
        links.push_back(ResolveLinkSettings(options, entries[i].Name, ignored));
        if (!entries[i].HeldBy.isEmpty())
            probed[i].Result = QStringLiteral("in use by ") + entries[i].HeldBy;
        else if (const QString lock = LockFileOf(entries[i].Device); !lock.isEmpty())
            probed[i].Result = QStringLiteral("in use (%1)").arg(lock);
    }
    // One ping a port, all ports at once: nothing answering takes one ping time-out, not one a port.
    RunOnThreads(
        int(entries.size()),
        [&](int i) {
            TProbedPort& port = probed[size_t(i)];
            if (!port.Result.isEmpty())
                return;
            TCommProtocol protocol;
            QString error;
            if (!OpenLink(protocol, links[size_t(i)], error)) {
                port.Result = error;
                return;
            }
            port.Answered = protocol.PingTarget();
            port.Result = port.Answered ? QStringLiteral("answered") : QStringLiteral("no answer");
        },
        [] {}, kProbeTickMs);
    return probed;
}

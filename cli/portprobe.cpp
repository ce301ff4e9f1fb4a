#include "cli/portprobe.h"

#include "cli/boardthreads.h"
#include "cli/clilink.h"
#include "cli/portlist.h"
#include "protocol/comm_protocol.h"

namespace {

constexpr int kProbeTickMs = 50;

} // namespace

std::vector<TProbedPort> ProbePorts(const TCliOptions& options) {
    const std::vector<TSerialPortEntry> entries = ListSerialPorts();
    std::vector<TProbedPort> probed(entries.size());
    std::vector<TLinkSettings> links;
    for (size_t i = 0; i < entries.size(); ++i) {
        probed[i].Name = entries[i].Name;
        QStringList ignored; // the stored settings' warnings were said already
        links.push_back(ResolveLinkSettings(options, entries[i].Name, ignored));
        probed[i].Result = InUseText(entries[i]);
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
        [&](int i, const QString& what) {
            // Whatever the port did before, no board is known to answer there.
            probed[size_t(i)].Answered = false;
            probed[size_t(i)].Result = QStringLiteral("internal error: %1").arg(what);
        },
        [] {}, kProbeTickMs);
    return probed;
}

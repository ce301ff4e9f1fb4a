#include "cli/clilink.h"

#include "engine/comsettings.h"
#include "protocol/comm_protocol.h"
#include "serial/commport.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "serial/porturl.h"

namespace {

constexpr int kDefaultPort = 2;
constexpr int kLowestComNumber = 1;

QString ComName(int port) {
    return QStringLiteral("\\\\.\\COM%1").arg(port);
}

} // namespace

TLinkSettings ResolveLinkSettings(const TCliOptions& options, const QString& port, QStringList& warnings) {
    TLinkSettings link;
    const TStoredComSettings stored = ReadStoredComSettings();
    if (!stored.Error.isEmpty())
        warnings << stored.Error + QStringLiteral(" in the saved COM settings; using the defaults");
    // A value out of range is said only when it would have been used.
    if (!stored.PortWarning.isEmpty() && port.isEmpty())
        warnings << stored.PortWarning + QStringLiteral(" in the saved COM settings");
    if (!stored.BaudRateWarning.isEmpty() && !options.Baud)
        warnings << stored.BaudRateWarning + QStringLiteral(" in the saved COM settings");

    const int storedPort = stored.Port.value_or(kDefaultPort);
    link.PortName = ComName(storedPort);
    link.Shown = QStringLiteral("COM%1").arg(storedPort);
    if (!port.isEmpty()) {
        const std::optional<int> number = ComNumberOf(port);
        link.PortName = number ? ComName(*number) : port;
        link.Shown = number ? QStringLiteral("COM%1").arg(*number) : port;
        if (number && (*number < kLowestComNumber || *number > kHighestComNumber))
            link.Error = QStringLiteral("no such port '%1' (COM1 to COM%2)")
                             .arg(ShownName(port))
                             .arg(kHighestComNumber);
    }

    TPortUrl url;
    if (link.Error.isEmpty() && IsNetworkPortName(link.PortName))
        link.Error = ParsePortUrl(link.PortName, url);

    link.Baud = options.Baud ? *options.Baud : BaudRateOf(TBaudRate(stored.BaudRate.value_or(int(br115200))));
    link.Device = ResolvePortName(link.PortName);
    return link;
}

bool OpenLink(TCommProtocol& protocol, const TLinkSettings& settings, QString& error) {
    TCommPortDriver& driver = *protocol.CommUnit()->CommPortDriver();
    driver.SetPortDevice(settings.PortName, settings.Device); // resolved once, in the link settings
    TBaudRate listed = brCustom;
    for (int rate = int(br110); rate <= int(br256000); ++rate)
        if (BaudRateOf(TBaudRate(rate)) == settings.Baud)
            listed = TBaudRate(rate);
    if (listed != brCustom)
        driver.SetBaudRate(listed);
    else
        driver.SetBaudRateValue(settings.Baud);
    if (driver.Connect())
        return true;
    error = driver.LastFailure();
    return false;
}

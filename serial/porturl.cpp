#include "serial/porturl.h"

#include <QRegularExpression>

namespace {

const QString kRfc2217 = QStringLiteral("rfc2217://");
const QString kSocket = QStringLiteral("socket://");

} // namespace

bool IsNetworkPortName(const QString& name) {
    return name.startsWith(kRfc2217, Qt::CaseInsensitive) || name.startsWith(kSocket, Qt::CaseInsensitive);
}

QString ParsePortUrl(const QString& name, TPortUrl& url) {
    if (!IsNetworkPortName(name))
        return QStringLiteral("'%1' is no network port (rfc2217://HOST:PORT or socket://HOST:PORT)")
            .arg(name);
    url.PortControl = name.startsWith(kRfc2217, Qt::CaseInsensitive);
    const QString rest = name.mid(url.PortControl ? kRfc2217.size() : kSocket.size());
    // Not shared between threads: boards open their ports on threads of their own.
    const QRegularExpression form(
        QStringLiteral(R"(^(?:\[([0-9A-Fa-f:.]+)\]|([A-Za-z0-9._-]+)):([0-9]{1,5})/?$)"));
    const QRegularExpressionMatch match = form.match(rest);
    const int port = match.hasMatch() ? match.captured(3).toInt() : 0;
    if (!match.hasMatch() || port < 1 || port > 65535)
        return QStringLiteral("'%1' names no network port: write %2HOST:PORT with a port from 1 to 65535")
            .arg(name, url.PortControl ? kRfc2217 : kSocket);
    url.Host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    url.Port = std::uint16_t(port);
    return QString();
}

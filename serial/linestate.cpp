#include "serial/linestate.h"

#include <cmath>

namespace {

constexpr double kRateTolerance = 0.03; // a UART divisor rarely hits a rate exactly

} // namespace

QString LineStateRequestError(bool open, const TCommLineState& state, const QString& path) {
    if (!open)
        return QStringLiteral("the port is not open");
    if (state.BaudRate == 0)
        return QStringLiteral("cannot set 0 baud on %1").arg(path);
    return QString();
}

QString RateReadBackError(std::uint32_t requested, std::uint32_t actual, const QString& path) {
    const double rateError = std::abs(double(actual) - double(requested)) / double(requested);
    if (rateError <= kRateTolerance)
        return QString();
    return QStringLiteral("cannot set %1 baud on %2: the device runs at %3 baud")
        .arg(requested)
        .arg(path)
        .arg(actual);
}

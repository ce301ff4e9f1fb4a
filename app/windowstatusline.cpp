#include "app/windowstatusline.h"

#include <QLabel>
#include <QStringList>

QString StatusLineText(const TStatusLineFacts& facts) {
    if (!facts.PortOpen)
        return facts.NoPortChosen   ? QStringLiteral("No port chosen yet: choose one with the Com button")
               : facts.FloodClosed  ? QStringLiteral("The board sends without pause; the line was closed.")
               : facts.Reconnecting ? QStringLiteral("%1 has gone away; trying to reopen it every %2 s")
                                          .arg(facts.Port)
                                          .arg(double(facts.ReconnectIntervalMs) / 1000.0, 0, 'f', 1)
                                    : QStringLiteral("%1 is not open").arg(facts.Port);
    QString text = QStringLiteral("%1 \u00b7 %2 baud \u00b7 ").arg(facts.Port).arg(facts.Baud);
    // A chip identified before outlives a board that stopped answering; it is named only while it does.
    if (facts.TargetFound && !facts.Chip.isEmpty())
        text += facts.Chip;
    else if (facts.TargetFound)
        text += QStringLiteral("board answers, chip not identified");
    else
        text += QStringLiteral("no board answers yet");
    return text;
}

void ShowStatusLine(QLabel& label, const TStatusLineFacts& facts) {
    const QString text = StatusLineText(facts);
    const QString shown = label.fontMetrics().elidedText(text, Qt::ElideRight, label.width());
    label.setText(shown);
    label.setAccessibleName(text); // read out whole
    QStringList tip;
    if (shown != text)
        tip << text;
    if (!facts.Device.isEmpty() && facts.Device != facts.Port)
        tip << QStringLiteral("%1 opens %2").arg(facts.Port, facts.Device);
    label.setToolTip(tip.join(QLatin1Char('\n')));
}

QString NoAnswerHint(const QString& port, const QString& device, std::uint32_t baud) {
    const QString where =
        device.isEmpty() || device == port ? port : QStringLiteral("%1 (%2)").arg(port, device);
    return QStringLiteral("No answer on %1 at %2 baud. Check the cable, the board's power, "
                          "and the port and rate under Com.")
        .arg(where)
        .arg(baud);
}

QString FloodHint(const QString& port, int floodSeconds) {
    return QStringLiteral("%1 kept sending text that answers no command for %2 s. "
                          "Connect under Com opens it again.")
        .arg(port)
        .arg(floodSeconds);
}

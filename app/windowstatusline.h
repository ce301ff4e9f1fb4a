#pragma once
// The window's status line beside "Connected"/"Disconnected": where the window listens and what it
// found there, so that "Connected" with no board is never the only word; and the hints below it
// when a board stays silent or floods the line.

#include <QString>

#include <cstdint>

class QLabel;

struct TStatusLineFacts {
    bool PortOpen = false;
    bool NoPortChosen = false; // a first start whose default port did not open
    bool FloodClosed = false;  // the window closed the line because of a flood
    bool Reconnecting = false; // the port went away with its device and is tried again
    int ReconnectIntervalMs = 0;
    QString Port;   // "COM2"
    QString Device; // what the port was opened as
    std::uint32_t Baud = 0;
    bool TargetFound = false;
    QString Chip; // manufacturer and product; empty while no chip is identified
};

QString StatusLineText(const TStatusLineFacts& facts);
// Cut with an ellipsis to the label's width (never behind the Log button), the whole text in the
// tooltip and read out whole, with the device the port opens when that has another name.
void ShowStatusLine(QLabel& label, const TStatusLineFacts& facts);

// After a while without any answer: where the window listens and what to look at.
QString NoAnswerHint(const QString& port, const QString& device, std::uint32_t baud);
QString FloodHint(const QString& port, int floodSeconds);

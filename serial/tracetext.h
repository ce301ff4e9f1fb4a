#pragma once
// The text of a trace line, shared by tervolt-cli's --trace file and the window's session log:
//
//     1234.567  /dev/ttyUSB0  >  P INIT\r
//
// the time in milliseconds, the port, '>' sent, '<' received or '#' a note, and the bytes with CR, LF,
// tab and backslash written \r \n \t \\ and every other byte outside printable ASCII as \xHH.

#include <QByteArray>

QByteArray TraceReadable(const QByteArray& bytes);
// One line without its line end.
QByteArray TraceLine(double milliseconds, const QByteArray& port, char direction, const QByteArray& readable);

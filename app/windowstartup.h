#pragma once
// The window program's run, apart from main() so that its exit status can be tested: the device list
// is looked for, the main window built and shown, and the message loop run until the window closes.

#include <QString>

// 0 once the window has closed; 1 when it could not start (or an exception ended it), after a box
// saying why. Needs a QApplication.
int RunMainWindow(const QString& programDirectory);

// The standard error box of a failed start, with the system's reason below the message.
void ShowStartupError(const QString& message, const QString& detail);

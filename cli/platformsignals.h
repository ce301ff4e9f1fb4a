#pragma once
// The platform's signals, besides SIGINT and SIGTERM, after which a run must end cleanly.

using TSignalHandler = void (*)(int);
void InstallPlatformInterruptSignals(TSignalHandler handler);
// A reader that went away (`| head`) must give a failed write, not end the program.
void IgnoreBrokenPipeSignal();

#pragma once
// Runs the built tervolt-cli as a user would and collects what it said.

#include <QByteArray>
#include <QString>
#include <QStringList>

struct TCliRun {
    int Exit = -1;   // -1: did not finish in time, or crashed
    QStringList Out; // standard output, one entry per non-empty line
    QString Err;
    qint64 Milliseconds = 0;
};

// The built tervolt-cli.
QString CliProgram();

// `home`, when given, becomes HOME and XDG_CONFIG_HOME, so that no run reads the user's own settings.
TCliRun RunCli(const QStringList& args, const QString& home = {}, int timeoutMs = 120000);

// Writes `bytes` to `path`, replacing what was there.
bool WriteFile(const QString& path, const QByteArray& bytes);

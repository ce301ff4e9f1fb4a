#include "tests/support/clirun.h"

#include <QElapsedTimer>
#include <QFile>
#include <QOperatingSystemVersion>
#include <QProcess>

namespace {

// Windows programs end their text lines with CR LF; the lines are compared without it.
QString OutputText(QByteArray bytes) {
    if (QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows)
        bytes.replace("\r\n", "\n");
    return QString::fromLocal8Bit(bytes);
}

} // namespace

QString CliProgram() {
    return QStringLiteral(TERVOLT_BIN_DIR "/tervolt-cli" TERVOLT_EXE_SUFFIX);
}

TCliRun RunCli(const QStringList& args, const QString& home, int timeoutMs) {
    QProcess process;
    if (!home.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        process.setProcessEnvironment(env);
    }
    QElapsedTimer clock;
    clock.start();
    process.start(CliProgram(), args);
    TCliRun run;
    if (!process.waitForFinished(timeoutMs)) {
        // Said in Err, so that a failed check shows why there is no exit status.
        run.Err = QStringLiteral("tervolt-cli did not finish: %1").arg(process.errorString());
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.Milliseconds = clock.elapsed();
    run.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = OutputText(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.Err = OutputText(process.readAllStandardError());
    if (process.exitStatus() != QProcess::NormalExit)
        run.Err += QStringLiteral("tervolt-cli crashed (code %1)").arg(process.exitCode());
    return run;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

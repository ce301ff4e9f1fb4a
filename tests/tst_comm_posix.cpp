// The Linux serial layer: port-name mapping, exclusive open, line settings and what a vanished
// device looks like, over real pseudo-terminals.

#include "serial/comm_posix.h"
#include "serial/cpdrv.h"
#include "tests/support/ptypair.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

class TestCommPosix : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void resolvePortName_data();
    void resolvePortName();
    void driverOpensMappedPort();

    void openErrors_data();
    void openErrors();
    void permissionDeniedNamesTheGroup();
    void restoresSettingsOnClose();

    void lineStateReadBack_data();
    void lineStateReadBack();
    void pseudoTerminalWithoutModemLines();
    void queueCountsAndPurge();
    void writeWaitsAtMostTheTimeout();
    void hangup();

private:
    QTemporaryDir FSettingsDir;
};

void TestCommPosix::initTestCase() {
    QVERIFY(FSettingsDir.isValid());
    // Our own settings file, never the user's.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FSettingsDir.path()));
    QSettings settings(QStringLiteral("VELUM"), QStringLiteral("Tervolt"));
    settings.setValue(QStringLiteral("Ports/COM2"), QStringLiteral("/dev/ttyUSB0"));
    settings.setValue(QStringLiteral("Ports/COM11"), QStringLiteral("  /dev/serial/by-id/usb-adapter  "));
    settings.setValue(QStringLiteral("Ports/COM3"), QString());
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
}

void TestCommPosix::resolvePortName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("mapped") << QStringLiteral("\\\\.\\COM2") << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("mapped, spaces trimmed")
        << QStringLiteral("\\\\.\\COM11") << QStringLiteral("/dev/serial/by-id/usb-adapter");
    QTest::newRow("bare COMn mapped too") << QStringLiteral("COM2") << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("lower case") << QStringLiteral("\\\\.\\com2") << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("COM1 default") << QStringLiteral("\\\\.\\COM1") << QStringLiteral("/dev/ttyS0");
    QTest::newRow("COM4 default") << QStringLiteral("\\\\.\\COM4") << QStringLiteral("/dev/ttyS3");
    QTest::newRow("empty mapping falls back")
        << QStringLiteral("\\\\.\\COM3") << QStringLiteral("/dev/ttyS2");
    QTest::newRow("COM16 default") << QStringLiteral("COM16") << QStringLiteral("/dev/ttyS15");
    QTest::newRow("path as it is") << QStringLiteral("/dev/ttyACM0") << QStringLiteral("/dev/ttyACM0");
    QTest::newRow("COM0 is no port") << QStringLiteral("\\\\.\\COM0") << QStringLiteral("\\\\.\\COM0");
    QTest::newRow("trailing text") << QStringLiteral("\\\\.\\COM2x") << QStringLiteral("\\\\.\\COM2x");
    QTest::newRow("empty") << QString() << QString();
}

void TestCommPosix::resolvePortName() {
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(ResolvePortName(name), expected);
}

void TestCommPosix::driverOpensMappedPort() {
    TPtyPair pty;
    QVERIFY(pty.IsOpen());
    {
        QSettings settings(QStringLiteral("VELUM"), QStringLiteral("Tervolt"));
        settings.setValue(QStringLiteral("Ports/COM7"), pty.SlavePath());
    }
    TCommPortDriver driver;
    driver.SetPort(pnCOM7);
    QVERIFY2(driver.Connect(), qPrintable(driver.LastFailure()));
    QVERIFY(driver.SendString("via COM7"));
    QCOMPARE(pty.Read(8, 2s), QByteArray("via COM7"));
}

void TestCommPosix::openErrors_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing") << QStringLiteral("/dev/tervolt-missing")
                             << QStringLiteral("cannot open /dev/tervolt-missing: No such file or directory");
    QTest::newRow("unmapped COM without a device")
        << QStringLiteral("\\\\.\\COM16") << QStringLiteral("cannot open /dev/ttyS15: ");
    QTest::newRow("not a terminal")
        << QStringLiteral("/dev/null")
        << QStringLiteral("cannot open /dev/null: Inappropriate ioctl for device (not a serial device)");
    QTest::newRow("directory") << QStringLiteral("/") << QStringLiteral("cannot open /: Is a directory");
    QTest::newRow("no name") << QString() << QStringLiteral("cannot open a port without a name");
}

void TestCommPosix::openErrors() {
    QFETCH(QString, name);
    QFETCH(QString, expected);
    TCommPortPosix port;
    QVERIFY(!port.Open(ResolvePortName(name))); // whoever names a port resolves it, once
    QVERIFY(!port.IsOpen());
    QCOMPARE(port.Handle(), kInvalidCommHandle);
    QVERIFY2(port.LastFailure().startsWith(expected), qPrintable(port.LastFailure()));
}

void TestCommPosix::permissionDeniedNamesTheGroup() {
    if (::geteuid() != 0)
        QSKIP("needs root to drop to a plain user");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString device = dir.filePath(QStringLiteral("ttyS-private"));
    QFile file(device);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);

    int pipeFds[2];
    QVERIFY(::pipe(pipeFds) == 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        TCommPortPosix port;
        const bool opened = port.Open(device);
        const QByteArray text = port.LastFailure().toUtf8();
        const ssize_t written = ::write(pipeFds[1], text.constData(), size_t(text.size()));
        ::_exit(opened || written != text.size() ? 1 : 0);
    }
    ::close(pipeFds[1]);
    QByteArray text;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(
        QString::fromUtf8(text),
        QStringLiteral("cannot open %1: Permission denied (add the user to the dialout group)").arg(device));
}

void TestCommPosix::restoresSettingsOnClose() {
    TPtyPair pty;
    const int observer =
        ::open(QFile::encodeName(pty.SlavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(observer >= 0);
    TCommLineState before;
    QVERIFY(ReadPosixLineState(observer, before));
    QVERIFY(before.BaudRate != 31250);

    TCommPortPosix port;
    QVERIFY(port.Open(pty.SlavePath()));
    TCommLineState wanted;
    wanted.BaudRate = 31250;
    wanted.StopBits = csbTwo;
    QVERIFY2(port.SetLineState(wanted), qPrintable(port.LastFailure()));
    TCommLineState during;
    QVERIFY(ReadPosixLineState(observer, during));
    QCOMPARE(during.BaudRate, 31250u);
    port.Close();

    TCommLineState after;
    QVERIFY(ReadPosixLineState(observer, after));
    QCOMPARE(after.BaudRate, before.BaudRate);
    QCOMPARE(after.StopBits, before.StopBits);
    ::close(observer);
}

void TestCommPosix::lineStateReadBack_data() {
    QTest::addColumn<uint>("rate");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("rts");
    QTest::addColumn<bool>("xonXoff");
    QTest::addColumn<int>("expectedStopBits");
    QTest::newRow("115200 through a B constant")
        << 115200u << int(csbOne) << int(crmOn) << false << int(csbOne);
    QTest::newRow("14400 through termios2") << 14400u << int(csbOne) << int(crmOn) << false << int(csbOne);
    QTest::newRow("56000") << 56000u << int(csbOne) << int(crmOn) << false << int(csbOne);
    QTest::newRow("128000") << 128000u << int(csbOne) << int(crmOn) << false << int(csbOne);
    QTest::newRow("256000") << 256000u << int(csbOne) << int(crmOn) << false << int(csbOne);
    QTest::newRow("31250 custom") << 31250u << int(csbOne) << int(crmOn) << false << int(csbOne);
    QTest::newRow("1.5 stop bits become two")
        << 9600u << int(csbOneHalf) << int(crmOn) << false << int(csbTwo);
    QTest::newRow("two stop bits") << 9600u << int(csbTwo) << int(crmOn) << false << int(csbTwo);
    QTest::newRow("RTS/CTS") << 9600u << int(csbOne) << int(crmHandshake) << false << int(csbOne);
    QTest::newRow("XON/XOFF") << 9600u << int(csbOne) << int(crmOff) << true << int(csbOne);
}

void TestCommPosix::lineStateReadBack() {
    QFETCH(uint, rate);
    QFETCH(int, stopBits);
    QFETCH(int, rts);
    QFETCH(bool, xonXoff);
    QFETCH(int, expectedStopBits);
    TPtyPair pty;
    TCommPortPosix port;
    QVERIFY(port.Open(pty.SlavePath()));
    TCommLineState wanted;
    wanted.BaudRate = rate;
    wanted.StopBits = TCommStopBits(stopBits);
    wanted.Rts = TCommRtsMode(rts);
    wanted.XonXoff = xonXoff;
    wanted.Parity = cpaMark; // a pseudo-terminal ignores framing; it must not fail the settings
    wanted.ByteSize = 7;
    QVERIFY2(port.SetLineState(wanted), qPrintable(port.LastFailure()));

    TCommLineState actual;
    QVERIFY(ReadPosixLineState(int(port.Handle()), actual));
    QCOMPARE(actual.BaudRate, rate);
    QCOMPARE(int(actual.StopBits), expectedStopBits);
    QCOMPARE(actual.Rts == crmHandshake, rts == int(crmHandshake));
    QCOMPARE(actual.XonXoff, xonXoff);
    QCOMPARE(actual.XonChar, std::uint8_t(17));
    QCOMPARE(actual.XoffChar, std::uint8_t(19));
}

void TestCommPosix::pseudoTerminalWithoutModemLines() {
    TPtyPair pty;
    TCommPortPosix port;
    QVERIFY(port.Open(pty.SlavePath()));
    TCommLineState wanted;
    wanted.DtrOn = true;
    wanted.Rts = crmOn;
    QVERIFY2(port.SetLineState(wanted), qPrintable(port.LastFailure()));
    QCOMPARE(port.ModemLines(), std::uint8_t(0));
    port.SetDTR(false);
    port.SetRTS(false);
    QVERIFY(!port.IsGone());
    QVERIFY(port.IsOpen());
}

void TestCommPosix::queueCountsAndPurge() {
    TPtyPair pty;
    TCommPortPosix port;
    QVERIFY(port.Open(pty.SlavePath()));
    QVERIFY(port.SetLineState(TCommLineState{}));
    QVERIFY(pty.Write("seven!!"));
    std::uint32_t queued = 0;
    QDeadlineTimer deadline(5000);
    while ((port.QueuedIn(queued), queued) != 7 && !deadline.hasExpired())
        std::this_thread::sleep_for(2ms);
    QCOMPARE(queued, 7u);
    QVERIFY(port.QueuedOut(queued));
    QCOMPARE(queued, 0u); // a pseudo-terminal hands output on at once

    char buffer[4] = {};
    QCOMPARE(port.Read(buffer, 3), std::int64_t(3));
    QCOMPARE(QByteArray(buffer, 3), QByteArray("sev"));
    QVERIFY(port.Purge(true, false));
    QVERIFY(port.QueuedIn(queued));
    QCOMPARE(queued, 0u);
    QCOMPARE(port.Read(buffer, 3), std::int64_t(0)); // nothing there: no wait, no failure
    QCOMPARE(port.WaitReadable(50), cwrTimeout);
    QVERIFY(pty.Write("x"));
    QCOMPARE(port.WaitReadable(5000), cwrReady);
}

void TestCommPosix::writeWaitsAtMostTheTimeout() {
    TPtyPair pty;
    TCommPortPosix port;
    QVERIFY(port.Open(pty.SlavePath()));
    QVERIFY(port.SetLineState(TCommLineState{}));
    port.SetWriteTimeout(20);
    // Nobody reads the master: the line fills up, then a write gives up instead of blocking.
    const QByteArray block(4096, 'w');
    std::int64_t n = 1;
    int writes = 0;
    while (n > 0 && writes < 1000) {
        n = port.Write(block.constData(), std::uint32_t(block.size()));
        ++writes;
    }
    QCOMPARE(n, std::int64_t(0));
    QCOMPARE(port.WaitWritable(50), cwrTimeout);
    pty.Drain();
    QCOMPARE(port.WaitWritable(5000), cwrReady);
}

void TestCommPosix::hangup() {
    TPtyPair pty;
    TCommPortPosix port;
    QVERIFY(port.Open(pty.SlavePath()));
    QVERIFY(port.SetLineState(TCommLineState{}));
    pty.CloseMaster();

    std::uint32_t queued = 0;
    QVERIFY(!port.QueuedIn(queued));
    QVERIFY(port.IsGone());
    QVERIFY2(port.LastFailure().startsWith(QStringLiteral("connection to %1 lost").arg(pty.SlavePath())),
             qPrintable(port.LastFailure()));
    QCOMPARE(port.WaitReadable(5000), cwrGone);
    QCOMPARE(port.WaitWritable(5000), cwrGone);
    QCOMPARE(port.Write("x", 1), std::int64_t(-1));
    char byte;
    QCOMPARE(port.Read(&byte, 1), std::int64_t(-1));
    port.Close();
    QVERIFY(!port.IsOpen());
    QVERIFY(!port.LastFailure().isEmpty()); // the reason outlives the close
}

QTEST_GUILESS_MAIN(TestCommPosix)
#include "tst_comm_posix.moc"

// The Windows platform layers. What Wine cannot show (exclusive open, the codes of a pulled USB
// adapter) is checked on the error-code mapping; the rest runs on the real calls, the serial layer over
// the COM port named by TERVOLT_TEST_COM, where a simulated board answers.

#include "engine/processpriority.h"
#include "image/hexfiles.h"
#include "serial/comm_win32.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

namespace {

constexpr int kAnswerTimeoutMs = 2000;

// Wine's serial layer on a pseudo-terminal answers some calls differently from Windows.
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

QString TestPort() {
    return qEnvironmentVariable("TERVOLT_TEST_COM");
}

} // namespace

class TestPlatformWin32 : public QObject {
    Q_OBJECT

private slots:
    void errorCodes_data() {
        QTest::addColumn<quint32>("code");
        QTest::addColumn<int>("kind");
        const int gone = int(TWin32PortError::Vanished);
        const int noLines = int(TWin32PortError::NoModemLines);
        const int failed = int(TWin32PortError::Failed);
        // What USB serial drivers give once the adapter is pulled.
        QTest::newRow("access denied (usbser)") << quint32(ERROR_ACCESS_DENIED) << gone;
        QTest::newRow("bad command") << quint32(ERROR_BAD_COMMAND) << gone;
        QTest::newRow("general failure") << quint32(ERROR_GEN_FAILURE) << gone;
        QTest::newRow("device removed") << quint32(ERROR_DEVICE_REMOVED) << gone;
        QTest::newRow("not connected") << quint32(ERROR_DEVICE_NOT_CONNECTED) << gone;
        QTest::newRow("no such device") << quint32(433) << gone; // ERROR_NO_SUCH_DEVICE
        QTest::newRow("operation aborted") << quint32(ERROR_OPERATION_ABORTED) << gone;
        // Wine's answer once the other end of its pseudo-terminal hung up.
        QTest::newRow("not ready") << quint32(ERROR_NOT_READY) << gone;
        // A port without modem lines: Wine on a pseudo-terminal, virtual ports.
        QTest::newRow("not supported") << quint32(ERROR_NOT_SUPPORTED) << noLines;
        QTest::newRow("invalid function") << quint32(ERROR_INVALID_FUNCTION) << noLines;
        // A plain failure leaves the port open.
        QTest::newRow("invalid parameter") << quint32(ERROR_INVALID_PARAMETER) << failed;
        QTest::newRow("time-out") << quint32(ERROR_SEM_TIMEOUT) << failed;
    }
    void errorCodes() {
        QFETCH(quint32, code);
        QFETCH(int, kind);
        QCOMPARE(int(ClassifyWin32PortError(code)), kind);
    }

    void openFailures_data() {
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("hint");
        // Windows refuses a second open of a COM port with "access denied".
        QTest::newRow("in use") << quint32(ERROR_ACCESS_DENIED) << QStringLiteral("(device is in use)");
        QTest::newRow("sharing") << quint32(ERROR_SHARING_VIOLATION) << QStringLiteral("(device is in use)");
        QTest::newRow("absent") << quint32(ERROR_FILE_NOT_FOUND) << QStringLiteral("(no such port)");
        QTest::newRow("other") << quint32(ERROR_GEN_FAILURE) << QString();
    }
    void openFailures() {
        QFETCH(quint32, code);
        QFETCH(QString, hint);
        const QString text = Win32OpenFailureText(QStringLiteral("\\\\.\\COM7"), code, QStringLiteral("why"));
        QCOMPARE(text, QStringLiteral("cannot open \\\\.\\COM7: why %1").arg(hint).trimmed());
    }

    void portNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::newRow("COMn") << "COM2"
                              << "\\\\.\\COM2";
        QTest::newRow("two digits, lower case") << "com12"
                                                << "\\\\.\\COM12";
        QTest::newRow("device namespace") << "\\\\.\\COM3"
                                          << "\\\\.\\COM3";
        QTest::newRow("no COM0") << "COM0"
                                 << "COM0";
        QTest::newRow("other device") << "\\\\.\\CNCA0"
                                      << "\\\\.\\CNCA0";
    }
    void portNames() {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QCOMPARE(ResolvePortName(name), path);
    }

    void missingPortNamesTheReason() {
        TCommPortWin32 port;
        QVERIFY(!port.Open(ResolvePortName(QStringLiteral("COM250"))));
        QVERIFY2(port.LastFailure().startsWith(QStringLiteral("cannot open \\\\.\\COM250: ")),
                 qPrintable(port.LastFailure()));
        QVERIFY(port.LastFailure().contains(QStringLiteral("(error ")));
        QVERIFY(!port.IsOpen());
    }

    void priorityClassRaisedAndRestored() {
        const DWORD before = GetPriorityClass(GetCurrentProcess());
        {
            TProcessPriorityBoost boost;
            QVERIFY(boost.Raised());
            QCOMPARE(GetPriorityClass(GetCurrentProcess()), DWORD(HIGH_PRIORITY_CLASS));
        }
        QCOMPARE(GetPriorityClass(GetCurrentProcess()), before);
    }

    // Only a regular file is an image: a directory or a device gives "Cannot open file." at once.
    void imagesAreRegularFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("result");
        QTest::newRow("regular") << "image.hex" << int(hrOK);
        QTest::newRow("directory") << "." << int(hrCannotOpenFile);
        QTest::newRow("null device") << "NUL" << int(hrCannotOpenFile);
        QTest::newRow("absent") << "absent.hex" << int(hrCannotOpenFile);
    }
    void imagesAreRegularFiles() {
        QFETCH(QString, name);
        QFETCH(int, result);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("image.hex")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        // CR LF line ends, as Windows tools write them; the stream is binary and the reader takes them.
        file.write(":010000001AE5\r\n:00000001FF\r\n");
        file.close();
        const QString path = name == QLatin1String("NUL") ? name : dir.filePath(name);
        TIntelExtendedHexFile reader;
        QCOMPARE(int(reader.Open(path, hmProgram, false)), result);
        if (result == hrOK) {
            std::uint32_t address = 1;
            std::uint8_t data[16] = {};
            std::uint16_t length = 0;
            QCOMPARE(int(reader.ReadBlock(address, data, length, sizeof data)), int(hrOK));
            QCOMPARE(length, std::uint16_t(1));
            QCOMPARE(data[0], std::uint8_t(0x1A));
        }
    }

    // The layer over a real port with the simulated board on the other end.
    void portTalksToTheBoard() {
        if (TestPort().isEmpty())
            QSKIP("TERVOLT_TEST_COM names no port");
        TCommPortWin32 port;
        QVERIFY2(port.Open(TestPort()), qPrintable(port.LastFailure()));
        QVERIFY(port.SetQueueSizes(2048, 2048));
        TCommLineState state;
        state.BaudRate = 115200;
        QVERIFY2(port.SetLineState(state), qPrintable(port.LastFailure()));
        // No modem lines on a virtual port: nothing reported, nothing broken.
        port.ModemLines();
        port.SetDTR(false);
        port.SetRTS(true);
        QVERIFY(!port.IsGone());
        QVERIFY(port.Purge(true, true));

        // A bare CR asks for the prompt; the wait blocks in the driver until the first byte.
        QCOMPARE(port.Write("\r", 1), std::int64_t(1));
        QByteArray answer;
        QElapsedTimer clock;
        clock.start();
        while (!answer.contains('>') && clock.elapsed() < kAnswerTimeoutMs) {
            QCOMPARE(port.WaitReadable(kAnswerTimeoutMs), cwrReady);
            std::uint32_t queued = 0;
            QVERIFY(port.QueuedIn(queued));
            QVERIFY(queued > 0);
            char buffer[64];
            const std::int64_t n = port.Read(buffer, sizeof buffer);
            QVERIFY(n > 0);
            answer.append(buffer, qsizetype(n));
        }
        QVERIFY2(answer.contains('>'), answer.constData());
        // Nothing more comes: the wait ends on time, not early and not late.
        clock.restart();
        QCOMPARE(port.WaitReadable(200), cwrTimeout);
        QVERIFY(clock.elapsed() >= 150);

        // Windows refuses a second open; Wine on a pseudo-terminal does not.
        TCommPortWin32 second;
        if (UnderWine())
            second.Open(TestPort());
        else
            QVERIFY(!second.Open(TestPort()) && second.LastFailure().contains(QStringLiteral("in use")));
        second.Close();

        // A custom rate: Windows takes the number; Wine on a pseudo-terminal reads it back as 38400.
        state.BaudRate = 14400;
        if (port.SetLineState(state)) {
            TCommLineState actual;
            QVERIFY(port.ReadLineState(actual));
            QCOMPARE(actual.BaudRate, 14400u);
        } else {
            QVERIFY(UnderWine());
            QVERIFY2(port.LastFailure().endsWith(QStringLiteral("the device runs at 38400 baud")),
                     qPrintable(port.LastFailure()));
        }
        QVERIFY(!port.IsGone());
        port.Close();
        QVERIFY(!port.IsOpen());
    }
};

QTEST_GUILESS_MAIN(TestPlatformWin32)
#include "tst_platform_win32.moc"

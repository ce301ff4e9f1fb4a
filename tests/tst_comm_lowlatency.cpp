// Low-latency mode of real serial devices: asked for on open, the previous setting back on close.
// Pseudo-terminals have no such mode and must open as before. A real device is tried only where one
// answers TIOCGSERIAL (TERVOLT_TEST_SERIAL names one; otherwise the usual adapter and UART names).

#include "serial/comm_posix.h"
#include "tests/support/ptypair.h"

#include <QtTest>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <optional>

namespace {

// A descriptor of our own on the same device, to look at its flags from outside the port class.
class TProbe {
public:
    explicit TProbe(const QString& path)
        : FFd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~TProbe() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TProbe(const TProbe&) = delete;
    TProbe& operator=(const TProbe&) = delete;

    std::optional<bool> LowLatency() const {
        serial_struct serial{};
        if (FFd < 0 || ::ioctl(FFd, TIOCGSERIAL, &serial) != 0)
            return std::nullopt;
        return (serial.flags & ASYNC_LOW_LATENCY) != 0;
    }
    bool SetLowLatency(bool on) const {
        serial_struct serial{};
        if (FFd < 0 || ::ioctl(FFd, TIOCGSERIAL, &serial) != 0)
            return false;
        serial.flags = on ? (serial.flags | ASYNC_LOW_LATENCY) : (serial.flags & ~ASYNC_LOW_LATENCY);
        return ::ioctl(FFd, TIOCSSERIAL, &serial) == 0;
    }

private:
    int FFd;
};

// The first device that reports and accepts the low-latency flag; empty when there is none.
QString SerialDeviceWithLatencyFlag() {
    QStringList candidates;
    if (const QString named = qEnvironmentVariable("TERVOLT_TEST_SERIAL"); !named.isEmpty())
        candidates << named;
    // Opening a port raises DTR and may reset a board on it: the usual names are tried only on a CI
    // machine, which has none attached; elsewhere only a device named on purpose is used.
    if (qEnvironmentVariable("CI") == QLatin1String("true"))
        candidates << "/dev/ttyUSB0"
                   << "/dev/ttyACM0"
                   << "/dev/ttyS0";
    for (const QString& path : candidates) {
        TProbe probe(path);
        const std::optional<bool> state = probe.LowLatency();
        if (state && probe.SetLowLatency(*state))
            return path;
    }
    return {};
}

} // namespace

class TestCommLowLatency : public QObject {
    Q_OBJECT

private slots:
    void pseudoTerminalOpensUnchanged();
    void realDeviceRestoredOnClose_data();
    void realDeviceRestoredOnClose();
};

void TestCommLowLatency::pseudoTerminalOpensUnchanged() {
    TPtyPair pty;
    QVERIFY(pty.IsOpen());
    TCommPortPosix port;
    QVERIFY2(port.Open(pty.SlavePath()), qPrintable(port.LastFailure()));
    QVERIFY(!port.LowLatencySet());
    QVERIFY(port.LastFailure().isEmpty());
    port.Close();
    QVERIFY(!port.IsOpen());
}

void TestCommLowLatency::realDeviceRestoredOnClose_data() {
    QTest::addColumn<bool>("before");
    QTest::newRow("off before: on while open, off again") << false;
    QTest::newRow("on before: left on") << true;
}

void TestCommLowLatency::realDeviceRestoredOnClose() {
    QFETCH(bool, before);
    const QString path = SerialDeviceWithLatencyFlag();
    if (path.isEmpty())
        QSKIP("no serial device with a low-latency flag here (TERVOLT_TEST_SERIAL names one)");
    TProbe probe(path);
    const std::optional<bool> original = probe.LowLatency();
    QVERIFY(original);
    // The device is the machine's own: whatever happens below, it gets its setting back.
    struct TRestore {
        const TProbe& Probe;
        bool Setting;
        ~TRestore() { Probe.SetLowLatency(Setting); }
    } restore{probe, *original};
    QVERIFY(probe.SetLowLatency(before));

    TCommPortPosix port;
    if (!port.Open(path))
        QSKIP(qPrintable(QStringLiteral("%1 cannot be opened here: %2").arg(path, port.LastFailure())));
    QCOMPARE(port.LowLatencySet(), !before);
    QCOMPARE(probe.LowLatency(), std::optional<bool>(true));
    port.Close();
    QCOMPARE(probe.LowLatency(), std::optional<bool>(before));
}

QTEST_GUILESS_MAIN(TestCommLowLatency)
#include "tst_comm_lowlatency.moc"

// The port driver over a real pseudo-terminal: the test holds the master side as the board.

#include "serial/comm_posix.h"
#include "serial/cpdrv.h"
#include "tests/support/ptypair.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Only a wait that hangs takes this long, however loaded the machine. The processor time of waiting
// is measured in bench/, not here.
constexpr qint64 kHangMs = 30000;

// Collects every OnReceiveData / OnReceivePacket delivery.
struct TDeliveries {
    QList<QByteArray> Calls;
    void Attach(TCommPortDriver& driver) {
        driver.OnReceiveData = [this](QObject*, const std::uint8_t* data, std::uint32_t size) {
            Calls.append(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
        };
    }
    void AttachPackets(TCommPortDriver& driver) {
        driver.OnReceivePacket = [this](QObject*, const std::uint8_t* data, std::uint32_t size) {
            Calls.append(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
        };
    }
};

bool ConnectTo(TCommPortDriver& driver, const TPtyPair& pty) {
    driver.SetPortName(pty.SlavePath());
    return driver.Connect();
}

// Waits, without running the event loop, until the driver's input queue holds `count` bytes.
bool WaitQueued(TCommPortDriver& driver, std::uint32_t count) {
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (driver.CountRX() == count)
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

QByteArray Pattern(int size) {
    QByteArray data(size, Qt::Uninitialized);
    std::uint32_t state = 0x2545F491u;
    for (auto& byte : data) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = char(state);
    }
    return data;
}

} // namespace

class TestCpdrv : public QObject {
    Q_OBJECT

private slots:
    // Properties and their setters
    void setPort_data();
    void setPort();
    void setPortName();
    void portAndBuffersFixedWhileOpen();
    void baudRateSetters();
    void settingLimits_data();
    void settingLimits();
    void pollingDelayTimerRestart();
    void delayForRX_data();
    void delayForRX();

    // Closed port
    void closedPortResults();
    void connectMissingFails();

    // Open port
    void ratesOpen_data();
    void ratesOpen();
    void connectTwiceDoesNotReopen();
    void secondOpenFails();
    void settingChangeWhileOpen_data();
    void settingChangeWhileOpen();
    void streamDeliveryInOneCall();
    void nestedPausePolling();
    void sendAndReadVariants();
    void readDataStallTimeout();
    void checkLineStatusBlocksSend();
    void packetMode_data();
    void packetMode();
    void largeSendToSlowReader();
    void setHandle();
    void pollOnReadable();
    void readableNoticeOffIsWatched();
    void adoptedBlockingDescriptorIsReadByItsCount();
    void expectedBytesNeverHoldArrivedData_data();
    void expectedBytesNeverHoldArrivedData();

    // Unplugged device
    void hangupDuringSend();
    void hangupDuringRead();
    void hangupWhileIdle_data();
    void hangupWhileIdle();
};

void TestCpdrv::setPort_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("expectedName");
    QTest::newRow("COM1") << int(pnCOM1) << QStringLiteral("\\\\.\\COM1");
    QTest::newRow("COM3") << int(pnCOM3) << QStringLiteral("\\\\.\\COM3");
    QTest::newRow("COM12 two digits") << int(pnCOM12) << QStringLiteral("\\\\.\\COM12");
    QTest::newRow("COM16") << int(pnCOM16) << QStringLiteral("\\\\.\\COM16");
    QTest::newRow("custom keeps the name") << int(pnCustom) << QStringLiteral("/dev/ttyACM3");
}

void TestCpdrv::setPort() {
    QFETCH(int, port);
    QFETCH(QString, expectedName);
    TCommPortDriver driver;
    driver.SetPortName(QStringLiteral("/dev/ttyACM3"));
    driver.SetPort(TPortNumber(port));
    QCOMPARE(int(driver.Port()), port);
    QCOMPARE(driver.PortName(), expectedName);
}

void TestCpdrv::setPortName() {
    TCommPortDriver driver;
    driver.SetPort(pnCOM4);
    driver.SetPortName(QStringLiteral("\\\\.\\COM4"));
    QCOMPARE(driver.Port(), pnCustom); // any text, even one that names a numbered port
    driver.SetPortName(QStringLiteral("anything at all"));
    QCOMPARE(driver.Port(), pnCustom);
    QCOMPARE(driver.PortName(), QStringLiteral("anything at all"));
}

void TestCpdrv::portAndBuffersFixedWhileOpen() {
    TPtyPair pty;
    QVERIFY(pty.IsOpen());
    TCommPortDriver driver;
    QVERIFY2(ConnectTo(driver, pty), qPrintable(driver.LastFailure()));
    driver.SetPort(pnCOM3);
    driver.SetPortName(QStringLiteral("/dev/null"));
    driver.SetInBufSize(4096);
    driver.SetOutBufSize(4096);
    QCOMPARE(driver.Port(), pnCustom);
    QCOMPARE(driver.PortName(), pty.SlavePath());
    QCOMPARE(driver.InBufSize(), 2048u);
    QCOMPARE(driver.OutBufSize(), 2048u);
    driver.SetPacketSize(3000); // the buffer cannot grow while open: the packet stays within it
    QCOMPARE(driver.PacketSize(), std::int16_t(2048));
    QCOMPARE(driver.InBufSize(), 2048u);
    driver.Disconnect();
    driver.SetPort(pnCOM3);
    QCOMPARE(driver.PortName(), QStringLiteral("\\\\.\\COM3"));
}

void TestCpdrv::baudRateSetters() {
    TCommPortDriver driver;
    driver.SetBaudRate(br57600);
    QCOMPARE(driver.BaudRateValue(), 57600u);
    driver.SetBaudRate(brCustom);
    QCOMPARE(driver.BaudRate(), brCustom);
    QCOMPARE(driver.BaudRateValue(), 57600u);
    driver.SetBaudRate(br256000);
    driver.SetBaudRateValue(31250);
    QCOMPARE(driver.BaudRate(), brCustom);
    QCOMPARE(driver.BaudRateValue(), 31250u);
}

// What each setter makes of a value outside its range.
void TestCpdrv::settingLimits_data() {
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("pollingDelay");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");
    QTest::addColumn<uint>("inBufSize"); // after a packet size
    for (const auto& [value, expected] : {std::pair{0, 5}, {4, 5}, {5, 5}, {1000, 1000}, {65535, 65535}})
        QTest::addRow("polling delay %d", value) << "polling delay" << value << value << expected << 0u;
    QTest::newRow("packet time-out below the delay") << "packet time-out" << 50 << 30 << 70 << 0u;
    QTest::newRow("packet time-out below the floor delay") << "packet time-out" << 5 << 3 << 7 << 0u;
    QTest::newRow("packet time-out equal to the delay") << "packet time-out" << 50 << 50 << 50 << 0u;
    QTest::newRow("packet time-out above the delay") << "packet time-out" << 50 << 200 << 200 << 0u;
    QTest::newRow("packet time-out zero is off") << "packet time-out" << 50 << 0 << -1 << 0u;
    QTest::newRow("packet time-out negative is off") << "packet time-out" << 50 << -20 << -1 << 0u;
    for (const auto& [value, expected] :
         {std::pair{100, 128}, {0, 128}, {128, 128}, {3000, 3000}, {8192, 8192}, {10000, 8192}})
        QTest::addRow("buffers %d", value) << "buffers" << 50 << value << expected << 0u;
    QTest::newRow("packet size grows the buffer") << "packet size" << 50 << 3000 << 3000 << 3000u;
    QTest::newRow("packet size fits") << "packet size" << 50 << 100 << 100 << 2048u;
    QTest::newRow("packet size capped at the largest buffer") << "packet size" << 50 << 9000 << 8192 << 8192u;
    QTest::newRow("packet size zero is off") << "packet size" << 50 << 0 << -1 << 2048u;
    QTest::newRow("packet size negative is off") << "packet size" << 50 << -5 << -1 << 2048u;
}

void TestCpdrv::settingLimits() {
    QFETCH(QString, setting);
    QFETCH(int, pollingDelay);
    QFETCH(int, value);
    QFETCH(int, expected);
    QFETCH(uint, inBufSize);
    TCommPortDriver driver;
    driver.SetPollingDelay(std::uint16_t(pollingDelay));
    if (setting == QLatin1String("polling delay")) {
        QCOMPARE(int(driver.PollingDelay()), expected);
    } else if (setting == QLatin1String("packet time-out")) {
        driver.SetPacketTimeout(value);
        QCOMPARE(driver.PacketTimeout(), expected);
    } else if (setting == QLatin1String("buffers")) {
        driver.SetInBufSize(uint(value));
        driver.SetOutBufSize(uint(value));
        QCOMPARE(int(driver.InBufSize()), expected);
        QCOMPARE(int(driver.OutBufSize()), expected);
    } else {
        driver.SetPacketSize(std::int16_t(value));
        QCOMPARE(int(driver.PacketSize()), expected);
        QCOMPARE(driver.InBufSize(), inBufSize);
        // A smaller buffer afterwards is grown again to the packet.
        driver.SetInBufSize(128);
        QCOMPARE(driver.InBufSize(), std::max(128u, expected > 0 ? uint(expected) : 0u));
    }
}

void TestCpdrv::pollingDelayTimerRestart() {
    TPtyPair pty;
    TCommPortDriver driver;
    driver.SetPollingDelay(3000);
    QVERIFY(ConnectTo(driver, pty));
    auto* timer = driver.findChild<QTimer*>();
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 3000);
    QCOMPARE(timer->timerType(), Qt::PreciseTimer);

    QTest::qWait(600);
    driver.SetPollingDelay(3000); // unchanged: the running period goes on
    QVERIFY2(timer->remainingTime() < 2800, qPrintable(QString::number(timer->remainingTime())));

    driver.SetPollingDelay(0);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 5);
    driver.Disconnect();
    QVERIFY(!timer->isActive());
}

void TestCpdrv::delayForRX_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<uint>("size");
    QTest::addColumn<uint>("expected");
    QTest::newRow("96 bytes at 9600") << int(br9600) << 96u << 100u;
    QTest::newRow("one byte at 115200 rounds down") << int(br115200) << 1u << 0u;
    QTest::newRow("one byte at 110 rounds up") << int(br110) << 1u << 91u;
    QTest::newRow("12.5 to even") << int(br9600) << 12u << 12u;
    QTest::newRow("37.5 to even") << int(br9600) << 36u << 38u;
    QTest::newRow("144 bytes at 115200 is 12.5") << int(br115200) << 144u << 12u;
    QTest::newRow("256000") << int(br256000) << 2560u << 100u;
    QTest::newRow("custom has no rate") << int(brCustom) << 100u << 0u;
    QTest::newRow("nothing") << int(br9600) << 0u << 0u;
}

void TestCpdrv::delayForRX() {
    QFETCH(int, rate);
    QFETCH(uint, size);
    QFETCH(uint, expected);
    QCOMPARE(DelayForRX(TBaudRate(rate), size), expected);
    QCOMPARE(DelayForRXAtRate(BaudRateOf(TBaudRate(rate)), size), expected);
}

void TestCpdrv::closedPortResults() {
    TCommPortDriver driver;
    std::uint8_t buffer[16] = {};
    QCOMPARE(driver.CountRX(), 65535u);
    QCOMPARE(driver.OutFreeSpace(), std::uint16_t(65535));
    QCOMPARE(driver.SendData("abc", 3), 0u);
    QCOMPARE(driver.SendDataEx("abc", 3, 1000), 0u);
    QVERIFY(!driver.SendByte(1));
    QVERIFY(!driver.SendChar('x'));
    QVERIFY(!driver.SendString("abc"));
    QVERIFY(!driver.SendZString("abc"));
    QCOMPARE(driver.ReadData(buffer, sizeof buffer), 0u);
    std::uint8_t byte = 0;
    QVERIFY(!driver.ReadByte(byte));
    QVERIFY(driver.GetLineStatus().IsEmpty());
    QVERIFY(!driver.FlushBuffers(true, true));
    QVERIFY(!driver.ApplyCOMSettings());
    driver.ToggleDTR(true);
    driver.ToggleRTS(false);
    driver.PollTimerTick();
    driver.Disconnect();
    QVERIFY(!driver.Connected());
}

void TestCpdrv::connectMissingFails() {
    TCommPortDriver driver;
    const QString missing = QStringLiteral("/dev/tervolt-no-such-port");
    driver.SetPortName(missing);
    QVERIFY(!driver.Connect());
    QVERIFY(!driver.Connected());
    QCOMPARE(driver.Handle(), kInvalidCommHandle);
    QCOMPARE(driver.LastFailure(), QStringLiteral("cannot open %1: No such file or directory").arg(missing));
    QCOMPARE(driver.CountRX(), 65535u);
}

void TestCpdrv::ratesOpen_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<uint>("value");
    for (int i = int(br110); i <= int(br256000); ++i)
        QTest::addRow("%u", BaudRateOf(TBaudRate(i))) << i << BaudRateOf(TBaudRate(i));
    QTest::newRow("custom 31250") << int(brCustom) << 31250u;
    QTest::newRow("custom 250000") << int(brCustom) << 250000u;
}

void TestCpdrv::ratesOpen() {
    QFETCH(int, rate);
    QFETCH(uint, value);
    TPtyPair pty;
    TCommPortDriver driver;
    if (rate == int(brCustom))
        driver.SetBaudRateValue(value);
    else
        driver.SetBaudRate(TBaudRate(rate));
    QVERIFY2(ConnectTo(driver, pty), qPrintable(driver.LastFailure()));
    TCommLineState actual;
    QVERIFY(ReadPosixLineState(int(driver.Handle()), actual));
    QCOMPARE(actual.BaudRate, value);
}

void TestCpdrv::connectTwiceDoesNotReopen() {
    TPtyPair pty;
    TCommPortDriver driver;
    QVERIFY(ConnectTo(driver, pty));
    const TCommHandle handle = driver.Handle();
    driver.PausePolling();
    QVERIFY(pty.Write("abc"));
    QVERIFY(WaitQueued(driver, 3));
    QVERIFY(driver.Connect());
    QCOMPARE(driver.Handle(), handle);
    QCOMPARE(driver.CountRX(), 3u); // a reopen would have applied the settings and discarded them
}

void TestCpdrv::secondOpenFails() {
    TPtyPair pty;
    TCommPortDriver first;
    TCommPortDriver second;
    QVERIFY(ConnectTo(first, pty));
    QVERIFY(!ConnectTo(second, pty));
    QVERIFY(!second.Connected());
    QCOMPARE(second.LastFailure(), QStringLiteral("cannot open %1: device is in use").arg(pty.SlavePath()));
    QVERIFY(first.Connected());
    QVERIFY(first.SendString("still mine"));
    QCOMPARE(pty.Read(10, 2s), QByteArray("still mine"));

    first.Disconnect();
    QVERIFY2(second.Connect(), qPrintable(second.LastFailure()));
}

void TestCpdrv::settingChangeWhileOpen_data() {
    QTest::addColumn<QString>("setting");
    QTest::newRow("rate") << QStringLiteral("rate");
    QTest::newRow("custom rate") << QStringLiteral("custom rate");
    QTest::newRow("data bits") << QStringLiteral("data bits");
    QTest::newRow("stop bits") << QStringLiteral("stop bits");
    QTest::newRow("parity") << QStringLiteral("parity");
    QTest::newRow("hardware flow") << QStringLiteral("hardware flow");
    QTest::newRow("software flow") << QStringLiteral("software flow");
}

void TestCpdrv::settingChangeWhileOpen() {
    QFETCH(QString, setting);
    TPtyPair pty;
    TCommPortDriver driver;
    driver.SetBaudRate(br115200);
    QVERIFY(ConnectTo(driver, pty));
    driver.PausePolling();
    QVERIFY(pty.Write("queued before the change"));
    QVERIFY(WaitQueued(driver, 24));

    if (setting == QLatin1String("rate"))
        driver.SetBaudRate(br19200);
    else if (setting == QLatin1String("custom rate"))
        driver.SetBaudRateValue(31250);
    else if (setting == QLatin1String("data bits"))
        driver.SetDataBits(db7BITS);
    else if (setting == QLatin1String("stop bits"))
        driver.SetStopBits(sb2BITS);
    else if (setting == QLatin1String("parity"))
        driver.SetParity(ptEVEN);
    else if (setting == QLatin1String("hardware flow"))
        driver.SetHwFlowControl(hfRTSCTS);
    else
        driver.SetSwFlowControl(sfXONXOFF);

    QVERIFY(driver.Connected());
    QCOMPARE(driver.CountRX(), 0u);
    TCommLineState actual;
    QVERIFY(ReadPosixLineState(int(driver.Handle()), actual));
    // What a pseudo-terminal keeps of the settings shows that they were applied.
    if (setting == QLatin1String("rate"))
        QCOMPARE(actual.BaudRate, 19200u);
    else if (setting == QLatin1String("custom rate"))
        QCOMPARE(actual.BaudRate, 31250u);
    else if (setting == QLatin1String("stop bits"))
        QCOMPARE(actual.StopBits, csbTwo);
    else if (setting == QLatin1String("hardware flow"))
        QCOMPARE(actual.Rts, crmHandshake);
    else if (setting == QLatin1String("software flow"))
        QVERIFY(actual.XonXoff);
    else
        QCOMPARE(actual.BaudRate, 115200u);
}

void TestCpdrv::streamDeliveryInOneCall() {
    TPtyPair pty;
    TCommPortDriver driver;
    TDeliveries deliveries;
    deliveries.Attach(driver);
    driver.SetPollingDelay(5);
    QVERIFY(ConnectTo(driver, pty));

    QTest::qWait(50);
    QVERIFY2(deliveries.Calls.isEmpty(), "an empty tick made a call");

    const QByteArray thirty = Pattern(30);
    driver.PausePolling();
    QVERIFY(pty.Write(thirty));
    QVERIFY(WaitQueued(driver, 30));
    driver.ContinuePolling();
    QTRY_COMPARE(deliveries.Calls.size(), 1);
    QCOMPARE(deliveries.Calls.first(), thirty);

    QTest::qWait(50); // ten more ticks with nothing queued
    QCOMPARE(deliveries.Calls.size(), 1);
}

void TestCpdrv::nestedPausePolling() {
    TPtyPair pty;
    TCommPortDriver driver;
    TDeliveries deliveries;
    deliveries.Attach(driver);
    driver.SetPollingDelay(5);
    QVERIFY(ConnectTo(driver, pty));

    driver.PausePolling();
    driver.PausePolling();
    QVERIFY(pty.Write("held"));
    QVERIFY(WaitQueued(driver, 4));
    driver.ContinuePolling();
    QVERIFY(!driver.IsPolling());
    QTest::qWait(100);
    QVERIFY(deliveries.Calls.isEmpty());

    driver.ContinuePolling();
    QVERIFY(driver.IsPolling());
    QTRY_COMPARE(deliveries.Calls.size(), 1);
    QCOMPARE(deliveries.Calls.first(), QByteArray("held"));

    // The count survives a reconnect.
    driver.PausePolling();
    driver.Disconnect();
    QVERIFY(ConnectTo(driver, pty));
    QVERIFY(!driver.IsPolling());
    driver.ContinuePolling();
}

void TestCpdrv::sendAndReadVariants() {
    TPtyPair pty;
    TCommPortDriver driver;
    QVERIFY(ConnectTo(driver, pty));
    QVERIFY(driver.SendString("P ID\r"));
    QVERIFY(driver.SendZString("zs"));
    QVERIFY(driver.SendByte(0));
    QVERIFY(driver.SendChar('>'));
    QVERIFY(driver.SendString(QByteArray()));
    QCOMPARE(pty.Read(9, 2s), QByteArray("P ID\rzs\0>", 9));

    QVERIFY(driver.GetLineStatus().IsEmpty()); // a pseudo-terminal has no modem lines
    driver.ToggleDTR(false);
    driver.ToggleRTS(false);
    QVERIFY(driver.Connected());
    QVERIFY(driver.OutFreeSpace() > 0);

    driver.SetInputTimeout(2000);
    QVERIFY(pty.Write(QByteArray("\x7fq", 2)));
    std::uint8_t byte = 0;
    char character = 0;
    QVERIFY(driver.ReadByte(byte));
    QCOMPARE(byte, std::uint8_t(0x7f));
    QVERIFY(driver.ReadChar(character));
    QCOMPARE(character, 'q');

    QVERIFY(pty.Write("flushed"));
    QVERIFY(WaitQueued(driver, 7));
    QVERIFY(driver.FlushBuffers(true, false));
    QCOMPARE(driver.CountRX(), 0u);
    QVERIFY(driver.IsPolling()); // ReadData paused polling only while it ran
}

void TestCpdrv::readDataStallTimeout() {
    TPtyPair pty;
    TCommPortDriver driver;
    driver.SetInputTimeout(400);
    QVERIFY(ConnectTo(driver, pty));

    // Nothing comes: the wait ends with what arrived, nothing.
    char buffer[64] = {};
    QCOMPARE(driver.ReadData(buffer, sizeof buffer), 0u);

    // Three pieces with pauses shorter than the time-out: together longer than it, all of them arrive.
    std::thread board([&pty] {
        for (const char* piece : {"one,", "two,", "three"}) {
            std::this_thread::sleep_for(150ms);
            pty.Write(piece);
        }
    });
    const std::uint32_t got = driver.ReadData(buffer, sizeof buffer);
    board.join();
    QCOMPARE(QByteArray(buffer, int(got)), QByteArray("one,two,three"));
}

void TestCpdrv::checkLineStatusBlocksSend() {
    TPtyPair pty;
    TCommPortDriver driver;
    driver.SetCheckLineStatus(true);
    QVERIFY(ConnectTo(driver, pty));
    QCOMPARE(driver.SendData("nothing goes", 12), 0u);
    QVERIFY(pty.Read(1, 200ms).isEmpty());
    driver.SetCheckLineStatus(false);
    QCOMPARE(driver.SendData("now it goes", 11), 11u);
}

void TestCpdrv::packetMode_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::newRow("pass") << int(pmPass) << QList<QByteArray>{"abcd", "efgh", "ij"};
    QTest::newRow("discard") << int(pmDiscard) << QList<QByteArray>{"abcd", "efgh"};
}

void TestCpdrv::packetMode() {
    QFETCH(int, mode);
    QFETCH(QList<QByteArray>, expected);
    TPtyPair pty;
    TCommPortDriver driver;
    TDeliveries streamed;
    TDeliveries packets;
    streamed.Attach(driver);
    packets.AttachPackets(driver);
    driver.SetPollingDelay(5);
    driver.SetPacketSize(4);
    driver.SetPacketTimeout(150);
    driver.SetPacketMode(TPacketMode(mode));
    QVERIFY(ConnectTo(driver, pty));

    driver.PausePolling();
    QVERIFY(pty.Write("abcdefghij"));
    QVERIFY(WaitQueued(driver, 10));
    QElapsedTimer sinceWhole;
    sinceWhole.start();
    driver.ContinuePolling();
    QTRY_COMPARE(packets.Calls.size(), 2);
    QCOMPARE(packets.Calls, expected.mid(0, 2));
    // The remainder waits for the packet time-out, then is passed on or dropped.
    QTRY_COMPARE(driver.CountRX(), 0u);
    QVERIFY2(sinceWhole.elapsed() >= 150, "the partial packet was not held for the packet time-out");
    QTest::qWait(20);
    QCOMPARE(packets.Calls, expected);
    QVERIFY(streamed.Calls.isEmpty());
}

void TestCpdrv::largeSendToSlowReader() {
    TPtyPair pty;
    TCommPortDriver driver;
    driver.SetBaudRate(br115200);
    QVERIFY(ConnectTo(driver, pty));
    const QByteArray data = Pattern(64 * 1024);

    QByteArray received;
    std::thread board([&] {
        // Small reads with pauses, so that the sender keeps finding the line full.
        QDeadlineTimer deadline(30000);
        int reads = 0;
        while (received.size() < data.size() && !deadline.hasExpired()) {
            char chunk[97];
            const ssize_t n = ::read(pty.MasterFd(), chunk, sizeof chunk);
            if (n > 0) {
                received.append(chunk, n);
                if (++reads % 4 == 0)
                    std::this_thread::sleep_for(1ms);
                continue;
            }
            pollfd request{pty.MasterFd(), POLLIN, 0};
            ::poll(&request, 1, 50);
        }
    });
    const std::uint32_t sent = driver.SendData(data.constData(), std::uint32_t(data.size()));
    board.join();
    QCOMPARE(sent, std::uint32_t(data.size()));
    QCOMPARE(received.size(), data.size());
    QVERIFY(received == data);
}

void TestCpdrv::setHandle() {
    TPtyPair pty;
    const int fd =
        ::open(QFile::encodeName(pty.SlavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(fd >= 0);
    TCommPortDriver driver;
    TDeliveries deliveries;
    deliveries.Attach(driver);
    driver.SetPollingDelay(5);

    driver.SetHandle(fd);
    QVERIFY(driver.Connected());
    QCOMPARE(driver.Handle(), TCommHandle(fd));
    QVERIFY(pty.Write("adopted"));
    QTRY_COMPARE(deliveries.Calls.size(), 1);
    QCOMPARE(deliveries.Calls.first(), QByteArray("adopted"));

    driver.SetHandle(kReleaseCommHandle);
    QVERIFY(!driver.Connected());
    QVERIFY2(::fcntl(fd, F_GETFD) != -1, "releasing closed the descriptor");
    QVERIFY(pty.Write("after release"));
    QTest::qWait(50);
    QCOMPARE(deliveries.Calls.size(), 1);

    driver.SetHandle(fd);
    QVERIFY(driver.Connected());
    driver.SetHandle(kInvalidCommHandle); // disconnects: the adopted descriptor is the driver's now
    QVERIFY(!driver.Connected());
    QCOMPARE(::fcntl(fd, F_GETFD), -1);
}

void TestCpdrv::pollOnReadable() {
    TPtyPair pty;
    TCommPortDriver driver;
    TDeliveries deliveries;
    deliveries.Attach(driver);
    driver.SetPollingDelay(60000); // the timer stays out of this test
    driver.SetPollOnReadable(true);
    QVERIFY(ConnectTo(driver, pty));

    QVERIFY(pty.Write("now"));
    QTRY_COMPARE_WITH_TIMEOUT(deliveries.Calls.size(), 1, 5000);
    QCOMPARE(deliveries.Calls.first(), QByteArray("now"));

    driver.PausePolling();
    QVERIFY(pty.Write("later"));
    QVERIFY(WaitQueued(driver, 5));
    QTest::qWait(300);
    QCOMPARE(deliveries.Calls.size(), 1);

    driver.ContinuePolling();
    QTRY_COMPARE_WITH_TIMEOUT(deliveries.Calls.size(), 2, 5000);
    QCOMPARE(deliveries.Calls.last(), QByteArray("later"));

    driver.SetPollOnReadable(false);
    QVERIFY(pty.Write("timer only"));
    QTest::qWait(200);
    QCOMPARE(deliveries.Calls.size(), 2);
}

// While the notice reads, the timer only watches it; the event loop may turn a notifier off by itself
// (a descriptor that turned invalid), and the watch must turn it on again.
void TestCpdrv::readableNoticeOffIsWatched() {
    TPtyPair pty;
    TCommPortDriver driver;
    TDeliveries deliveries;
    deliveries.Attach(driver);
    driver.SetPollingDelay(5);
    driver.SetPollOnReadable(true);
    QVERIFY(ConnectTo(driver, pty));
    for (QSocketNotifier* notifier : driver.findChildren<QSocketNotifier*>())
        notifier->setEnabled(false);
    QVERIFY(pty.Write("watched"));
    QTRY_COMPARE_WITH_TIMEOUT(deliveries.Calls.size(), 1, kHangMs);
    QCOMPARE(deliveries.Calls.first(), QByteArray("watched"));
}

// A descriptor adopted in blocking mode, whose terminal wants 4 bytes for a read: the readable notice
// takes the 2 that are there at once instead of blocking the thread until 2 more come.
void TestCpdrv::adoptedBlockingDescriptorIsReadByItsCount() {
    TPtyPair pty;
    const int fd = ::open(QFile::encodeName(pty.SlavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    termios tio{};
    QCOMPARE(::tcgetattr(fd, &tio), 0);
    tio.c_cc[VMIN] = 4;
    tio.c_cc[VTIME] = 0;
    QCOMPARE(::tcsetattr(fd, TCSANOW, &tio), 0);
    TCommPortDriver driver;
    TDeliveries deliveries;
    deliveries.Attach(driver);
    driver.SetPollOnReadable(true);
    driver.SetHandle(fd);
    QVERIFY(pty.Write("ab"));
    // Should the read block, these end it, and the first delivery shows it.
    std::thread rest([&pty] {
        std::this_thread::sleep_for(500ms);
        pty.Write("cd");
    });
    QTRY_VERIFY_WITH_TIMEOUT(!deliveries.Calls.isEmpty(), kHangMs);
    rest.join();
    QCOMPARE(deliveries.Calls.first(), QByteArray("ab"));
}

// A hint of bytes to come may shorten a wait but never holds back what has arrived: at 110 baud a
// hint of 100000 bytes stands for hours of line time, and the bytes still come at once. Without the
// readable notice and with the timer far off, the hint's own poll reads the bytes when they are due.
void TestCpdrv::expectedBytesNeverHoldArrivedData_data() {
    QTest::addColumn<bool>("pollOnReadable");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("expected");
    QTest::newRow("readable notice, long hint") << true << int(br110) << 100000;
    QTest::newRow("timer only, hint met") << false << int(br256000) << 8;
}

void TestCpdrv::expectedBytesNeverHoldArrivedData() {
    QFETCH(bool, pollOnReadable);
    QFETCH(int, rate);
    QFETCH(int, expected);
    TPtyPair pty;
    TCommPortDriver driver;
    TDeliveries deliveries;
    deliveries.Attach(driver);
    driver.SetPollingDelay(60000); // the timer stays out of this test
    driver.SetPollOnReadable(pollOnReadable);
    driver.SetBaudRate(TBaudRate(rate));
    QVERIFY(ConnectTo(driver, pty));

    QVERIFY(pty.Write("abcdefgh"));
    QVERIFY(WaitQueued(driver, 8));
    driver.ExpectAtLeast(std::uint32_t(expected));
    QTRY_COMPARE_WITH_TIMEOUT(deliveries.Calls.size(), 1, 5000);
    QCOMPARE(deliveries.Calls.first(), QByteArray("abcdefgh"));
    if (!pollOnReadable)
        return;
    QVERIFY(pty.Write("more"));
    QTRY_COMPARE_WITH_TIMEOUT(deliveries.Calls.size(), 2, 5000);
    QCOMPARE(deliveries.Calls.last(), QByteArray("more"));
}

void TestCpdrv::hangupDuringSend() {
    TPtyPair pty;
    TCommPortDriver driver;
    QSignalSpy lost(&driver, &TCommPortDriver::Disconnected);
    QVERIFY(ConnectTo(driver, pty));
    const QByteArray data = Pattern(512 * 1024); // far more than a pseudo-terminal buffers

    std::thread unplug([&pty] {
        std::this_thread::sleep_for(300ms);
        pty.CloseMaster();
    });
    QElapsedTimer wall;
    wall.start();
    const std::uint32_t sent = driver.SendDataEx(data.constData(), std::uint32_t(data.size()), 60000);
    const qint64 elapsed = wall.elapsed();
    unplug.join();

    QVERIFY(sent < std::uint32_t(data.size()));
    QVERIFY(!driver.Connected());
    // Ended by the hang-up, not by the 60 s write time-out.
    QVERIFY2(elapsed < kHangMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    QVERIFY2(driver.LastFailure().contains(QLatin1String("lost")), qPrintable(driver.LastFailure()));
    QCOMPARE(driver.SendData("x", 1), 0u);
    QTRY_COMPARE(lost.size(), 1);
}

void TestCpdrv::hangupDuringRead() {
    TPtyPair pty;
    TCommPortDriver driver;
    QSignalSpy lost(&driver, &TCommPortDriver::Disconnected);
    driver.SetInputTimeout(60000);
    QVERIFY(ConnectTo(driver, pty));

    std::thread unplug([&pty] {
        pty.Write("partial");
        std::this_thread::sleep_for(300ms);
        pty.CloseMaster();
    });
    char buffer[64] = {};
    QElapsedTimer wall;
    wall.start();
    const std::uint32_t got = driver.ReadData(buffer, sizeof buffer);
    const qint64 elapsed = wall.elapsed();
    unplug.join();

    QCOMPARE(QByteArray(buffer, int(got)), QByteArray("partial"));
    QVERIFY(!driver.Connected());
    QVERIFY(driver.IsPolling());
    // Ended by the hang-up, not by the 60 s input time-out.
    QVERIFY2(elapsed < kHangMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    QTRY_COMPARE(lost.size(), 1);
}

void TestCpdrv::hangupWhileIdle_data() {
    QTest::addColumn<bool>("pollOnReadable");
    QTest::newRow("timer") << false;
    QTest::newRow("timer and readable notice") << true;
}

void TestCpdrv::hangupWhileIdle() {
    QFETCH(bool, pollOnReadable);
    TPtyPair pty;
    TCommPortDriver driver;
    QSignalSpy lost(&driver, &TCommPortDriver::Disconnected);
    driver.SetPollingDelay(5);
    driver.SetPollOnReadable(pollOnReadable);
    QVERIFY(ConnectTo(driver, pty));

    pty.CloseMaster();
    QVERIFY(lost.wait(int(kHangMs)));
    QVERIFY(!driver.Connected());
    QCOMPARE(driver.CountRX(), 65535u);
    QCOMPARE(driver.SendData("x", 1), 0u);

    // Nothing keeps running for a device that is gone: no timer, no second notice.
    for (const QTimer* timer : driver.findChildren<QTimer*>())
        QVERIFY(!timer->isActive());
    QTest::qWait(300);
    QCOMPARE(lost.size(), 1);
}

QTEST_GUILESS_MAIN(TestCpdrv)
#include "tst_cpdrv.moc"

// Faults on the line, at the protocol: replies cut at every offset, a reply that never closes, an
// answer after its time-out, a hang-up in the middle of a command, a port that vanished before use.
// Every wait must end within its time-out plus a margin, without burning the processor.

#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "target/comm_protocol.h"
#include "tests/support/ptypair.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <sys/resource.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr qint64 kMarginMs = 1500;

bool Connect(TCommProtocol& protocol, const QString& path) {
    TCommPortDriver& driver = *protocol.CommUnit()->CommPortDriver();
    driver.SetPortName(path);
    driver.SetBaudRate(br115200);
    return driver.Connect();
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the board's side of one exchange on its own thread.
class TBoard {
public:
    template <typename F>
    explicit TBoard(F&& body) : FThread(std::forward<F>(body)) {}
    ~TBoard() {
        if (FThread.joinable())
            FThread.join();
    }

private:
    std::thread FThread;
};

} // namespace

class TestLineFaults : public QObject {
    Q_OBJECT
private slots:
    void replySplitAtEveryOffset();
    void replyThatNeverClosesTimesOut();
    void answerAfterItsTimeoutIsNotTaken();
    void hangupDuringTheWait();
    void hangupBeforeTheCommand();
};

void TestLineFaults::replySplitAtEveryOffset() {
    const QByteArray reply = "P PROG 000100 AB\r\nDone\r\n>";
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    const std::uint8_t data[] = {0xAB};
    for (int cut = 0; cut <= reply.size(); ++cut) {
        TBoard board([&] {
            pty.ReadUntil('\r', 5s);
            pty.Write(reply.left(cut));
            std::this_thread::sleep_for(12ms);  // more than one poll period: two deliveries
            pty.Write(reply.mid(cut));
        });
        QVERIFY2(protocol.ProgramBlock(0x100, data, 1), qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }
}

void TestLineFaults::replyThatNeverClosesTimesOut() {
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    std::atomic<bool> done{false};
    TBoard board([&] {
        pty.ReadUntil('\r', 5s);
        while (!done) {  // one byte per poll period, never a prompt
            pty.Write("x");
            std::this_thread::sleep_for(5ms);
        }
    });
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = ProcessCpuSeconds();
    const bool answered = protocol.PingTarget();
    const qint64 elapsed = clock.elapsed();
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    done = true;
    QVERIFY(!answered);
    QVERIFY(protocol.TimedOut());
    QVERIFY2(elapsed >= kPingTimeoutMs - 50 && elapsed < kPingTimeoutMs + kMarginMs, qPrintable(QString::number(elapsed)));
    QVERIFY2(cpu < 0.5 * double(elapsed) / 1000.0, qPrintable(QStringLiteral("cpu %1 s").arg(cpu)));
}

void TestLineFaults::answerAfterItsTimeoutIsNotTaken() {
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    {
        TBoard late([&] {
            pty.ReadUntil('\r', 5s);
            std::this_thread::sleep_for(std::chrono::milliseconds(kPingTimeoutMs + 300));
            pty.Write("\r\n\r\n>");
        });
        QVERIFY(!protocol.PingTarget());
    }
    // The late answer has arrived meanwhile; the next command must wait for its own.
    QTest::qWait(50);
    TBoard wrong([&] {
        pty.ReadUntil('\r', 5s);
        pty.Write("P INIT\r\nFLASH error\r\n>");
    });
    QVERIFY(!protocol.InitFlash());
    QCOMPARE(protocol.Reply(), QByteArray("FLASH error\r\n"));
}

void TestLineFaults::hangupDuringTheWait() {
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    TBoard board([&] {
        pty.ReadUntil('\r', 5s);
        pty.Write("P INIT\r\nFLA");  // half an answer, then the adapter is gone
        std::this_thread::sleep_for(50ms);
        pty.CloseMaster();
    });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!protocol.InitFlash());
    QVERIFY(clock.elapsed() < kCommandTimeoutMs + kMarginMs);
    QTRY_VERIFY_WITH_TIMEOUT(!protocol.CommUnit()->CommPortDriver()->Connected(), 2000);
    // From then on every command fails at once.
    clock.restart();
    QVERIFY(!protocol.ResetFlash());
    QVERIFY(clock.elapsed() < 500);
}

void TestLineFaults::hangupBeforeTheCommand() {
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    pty.CloseMaster();
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = ProcessCpuSeconds();
    const std::uint8_t block[200] = {};
    QVERIFY(!protocol.ProgramBlock(0, block, 200));
    QVERIFY(!protocol.ProgramBlock(200, block, 200));
    QVERIFY2(clock.elapsed() < kCommandTimeoutMs + kMarginMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(ProcessCpuSeconds() - cpuBefore < 0.5 * double(clock.elapsed() + 100) / 1000.0);
    QTRY_VERIFY_WITH_TIMEOUT(!protocol.CommUnit()->CommPortDriver()->Connected(), 2000);
}

QTEST_GUILESS_MAIN(TestLineFaults)
#include "tst_linefaults.moc"

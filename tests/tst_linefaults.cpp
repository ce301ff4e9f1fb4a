// Faults on the line, at the protocol: replies cut at every offset, a reply that never closes, an
// answer after its time-out, a hang-up in the middle of a command, a port that vanished before use.
// Every wait must end, and never before its time-out; how long it takes and the processor time it
// uses are measured in bench/, as a loaded machine stretches both.

#include "protocol/comm_protocol.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "tests/support/ptypair.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Only a wait that hangs takes this long, however loaded the machine.
constexpr qint64 kHangMs = 60000;

bool Connect(TCommProtocol& protocol, const QString& path) {
    TCommPortDriver& driver = *protocol.CommUnit()->CommPortDriver();
    driver.SetPortName(path);
    driver.SetBaudRate(br115200);
    return driver.Connect();
}

// Runs the board's side of one exchange on its own thread.
class TBoard {
public:
    template <typename F> explicit TBoard(F&& body) : FThread(std::forward<F>(body)) {}
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
            std::this_thread::sleep_for(12ms); // more than one poll period: two deliveries
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
        while (!done) { // one byte per poll period, never a prompt
            pty.Write("x");
            std::this_thread::sleep_for(5ms);
        }
    });
    QElapsedTimer clock;
    clock.start();
    const bool answered = protocol.PingTarget();
    const qint64 elapsed = clock.elapsed();
    done = true;
    QVERIFY(!answered);
    QVERIFY(protocol.TimedOut());
    // The trickle must not keep the wait alive; load can only lengthen it.
    QVERIFY2(elapsed >= kPingTimeoutMs - 50 && elapsed < kHangMs, qPrintable(QString::number(elapsed)));
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
        pty.Write("P INIT\r\nFLA"); // half an answer, then the adapter is gone
        std::this_thread::sleep_for(50ms);
        pty.CloseMaster();
    });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!protocol.InitFlash());
    QVERIFY(clock.elapsed() < kHangMs);
    QTRY_VERIFY_WITH_TIMEOUT(!protocol.CommUnit()->CommPortDriver()->Connected(), kHangMs);
    // From then on every command fails at once: for the lost line, not after a time-out.
    QVERIFY(!protocol.ResetFlash());
    QVERIFY(!protocol.TimedOut());
}

void TestLineFaults::hangupBeforeTheCommand() {
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    pty.CloseMaster();
    QElapsedTimer clock;
    clock.start();
    const std::uint8_t block[200] = {};
    QVERIFY(!protocol.ProgramBlock(0, block, 200));
    QVERIFY(!protocol.ProgramBlock(200, block, 200));
    QVERIFY(!protocol.TimedOut());
    QVERIFY2(clock.elapsed() < kHangMs, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(!protocol.CommUnit()->CommPortDriver()->Connected(), kHangMs);
}

QTEST_GUILESS_MAIN(TestLineFaults)
#include "tst_linefaults.moc"

// The command protocol over a real pseudo-terminal: exact command bytes, accepted and refused answers,
// scanning and time-outs. Round trips against the simulated board are tervolt-cli's, in tst_cli_sim.

#include "protocol/answerbook.h"
#include "protocol/comm_protocol.h"
#include "protocol/commandtext.h"
#include "protocol/replyscan.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "tests/support/ptypair.h"

#include <QTest>
#include <QThread>
#include <QTimer>

#include <thread>

using namespace std::chrono_literals;

namespace {

// The board side of a scripted exchange: answers the next command line with `answer`.
class TScriptedBoard {
public:
    explicit TScriptedBoard(TPtyPair& pty) : FPty(pty) {}
    ~TScriptedBoard() { Join(); }

    void AnswerNext(const QByteArray& answer) {
        Join();
        FThread = std::thread([this, answer] {
            FReceived = FPty.ReadUntil('\r', 5s);
            FPty.Write(answer);
        });
    }
    QByteArray Received() {
        Join();
        return FReceived;
    }

private:
    void Join() {
        if (FThread.joinable())
            FThread.join();
    }
    TPtyPair& FPty;
    std::thread FThread;
    QByteArray FReceived;
};

bool Connect(TCommProtocol& protocol, const QString& path) {
    TCommPortDriver& driver = *protocol.CommUnit()->CommPortDriver();
    driver.SetPortName(path);
    driver.SetBaudRate(br115200);
    return driver.Connect();
}

QByteArray Framed(const QByteArray& echo, const QByteArray& result) {
    return echo + "\r\n" + result + ">";
}

// One step of a scripted line: a command line goes out, or a reply comes in and is accounted as
// Expected (settling Line). Replies are given as the unit queues them: without the closing '>'.
struct TBookStep {
    bool Sent = false;
    QByteArray Text;
    TReplyKind Expected = TReplyKind::rkAnswer;
    QByteArray Line;
};
using TBookScript = QList<TBookStep>;

TBookStep Out(const QByteArray& line) {
    return {true, line, {}, {}};
}
TBookStep In(const QByteArray& reply, TReplyKind expected, const QByteArray& line = {}) {
    return {false, reply, expected, line};
}

const QByteArray kV1 = "P VERIFY 000000 12";
const QByteArray kV2 = "P VERIFY 000001 34";

} // namespace

Q_DECLARE_METATYPE(TBookScript)

class TestCommProtocol : public QObject {
    Q_OBJECT
private slots:
    void commandText_data();
    void commandText();
    void answerBook_data();
    void answerBook();
    void answers_data();
    void answers();
    void identify_data();
    void identify();
    void compareScanning_data();
    void compareScanning();
    void closedPortFailsAtOnce();
    void answerRacingTheTimeout();
    void nestedCommandIsRefused();
    void strayCompareErrorFailsTheClose();
};

void TestCommProtocol::commandText_data() {
    QTest::addColumn<bool>("verify");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("example") << false << 0x100u << QByteArray("\x12\xAB", 2)
                             << QByteArray("P PROG 000100 12AB\r");
    QTest::newRow("zero-length block") << false << 0x100u << QByteArray() << QByteArray("P PROG 000100 \r");
    QTest::newRow("seven digits") << false << 0x1234567u << QByteArray("\x01", 1)
                                  << QByteArray("P PROG 1234567 01\r");
    QTest::newRow("eight digits") << true << 0xFFFFFFFFu << QByteArray("\x0A\xFF", 2)
                                  << QByteArray("P VERIFY FFFFFFFF 0AFF\r");
    QTest::newRow("short address padded")
        << true << 0x1A2Bu << QByteArray("\x00", 1) << QByteArray("P VERIFY 001A2B 00\r");
}

void TestCommProtocol::commandText() {
    QFETCH(bool, verify);
    QFETCH(quint32, address);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, line);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
    const auto count = std::uint16_t(data.size());
    QCOMPARE(verify ? VerifyBlockCommand(address, bytes, count) : ProgramBlockCommand(address, bytes, count),
             line);
    // A full block is 415 (program) or 417 (verify) characters with a six-digit address.
    const QByteArray full(200, '\x5A');
    QCOMPARE(ProgramBlockCommand(0, reinterpret_cast<const std::uint8_t*>(full.constData()), 200).size(),
             415);
    QCOMPARE(VerifyBlockCommand(0, reinterpret_cast<const std::uint8_t*>(full.constData()), 200).size(), 417);
}

void TestCommProtocol::answerBook_data() {
    using enum TReplyKind;
    QTest::addColumn<TBookScript>("script");
    QTest::addColumn<bool>("echoes");     // afterwards
    QTest::addColumn<bool>("owesOthers"); // a command other than a ping is still owed afterwards
    const QByteArray ok = "Compare OK\r\n";
    const QByteArray bad = "Compare error at address 1: Expected: 34 Actual: 35\r\n";
    const TBookStep echoedInit[] = {Out("P INIT"),
                                    In("P INIT\r\nFLASH is ready to programming.\r\n", rkAnswer, "P INIT")};
    const TBookScript echoing(std::begin(echoedInit), std::end(echoedInit));

    QTest::newRow("echoed answer settles its command") << echoing << true << false;
    QTest::newRow("late answer settles its own command, then the ping's")
        << TBookScript{Out(kV1), Out(""), In(kV1 + "\r\n" + ok, rkAnswer, kV1), In("\r\n\r\n", rkAnswer, "")}
        << true << false;
    QTest::newRow("catch-up: a ping's answer passes by a lost command")
        << TBookScript{Out("P INIT"), Out(""), In("\r\n\r\n", rkAnswer, "")} << false << false;
    QTest::newRow("no echo: a result settles the oldest command, not a ping")
        << TBookScript{Out(""), Out(kV1), In("\r\n" + ok, rkAnswer, kV1)} << false << false;
    QTest::newRow("no echo yet: noise in front of the echo goes by kind")
        << TBookScript{Out(kV1), In("\x01junk" + kV1 + "\r\n" + ok, rkAnswer, kV1)} << false << false;
    QTest::newRow("second echoed answer is a surplus")
        << echoing +
               TBookScript{Out(kV1), In(kV1 + "\r\n" + bad, rkAnswer, kV1), In(kV1 + "\r\n" + ok, rkSurplus)}
        << true << false;
    QTest::newRow("echoing board: a bare answer is taken by none")
        << echoing + TBookScript{Out(kV1), In("\r\n" + ok, rkUnechoed), In(kV1 + "\r\n" + bad, rkAnswer, kV1)}
        << true << false;
    QTest::newRow("echoing board: the echo of a command not sent")
        << echoing + TBookScript{Out(kV1), In(kV2 + "\r\n" + ok, rkNotSent)} << true << true;
    QTest::newRow("echoing board: a ping's answer starts with its empty echo")
        << echoing + TBookScript{Out(""), In("\r\n\r\n", rkAnswer, "")} << true << false;
    QTest::newRow("no echo: a duplicate shifts the answers, the closing ping sees it")
        << TBookScript{Out(""),  In("\r\n\r\n", rkAnswer, ""),   Out(kV1), In("\r\n" + ok, rkAnswer, kV1),
                       Out(kV2), In("\r\n" + ok, rkAnswer, kV2), Out(""),  In("\r\n" + bad, rkSurplus)}
        << false << false;
    QTest::newRow("before the first answer a banner is the board's own, after it a surplus")
        << TBookScript{In("\r\nVELUM boot monitor\r\n", rkUnasked), Out(""), In("\r\n\r\n", rkAnswer, ""),
                       In("\r\nVELUM boot monitor\r\n", rkSurplus)}
        << false << false;
    QTest::newRow("an empty reply answers nothing")
        << TBookScript{Out(""), In("\r\n\r\n", rkAnswer, ""), Out(""), In("\r\n", rkSurplus)} << false
        << false;
}

void TestCommProtocol::answerBook() {
    QFETCH(TBookScript, script);
    QFETCH(bool, echoes);
    QFETCH(bool, owesOthers);
    TAnswerBook book;
    int step = 0;
    for (const TBookStep& s : script) {
        ++step;
        if (s.Sent) {
            QVERIFY(book.Sent(s.Text));
            continue;
        }
        const TReplyAccount account = book.Account(s.Text);
        QVERIFY2(account.Kind == s.Expected,
                 qPrintable(QStringLiteral("step %1: kind %2").arg(step).arg(int(account.Kind))));
        QCOMPARE(account.Line, s.Line);
    }
    QCOMPARE(book.Echoes(), echoes);
    QCOMPARE(book.OwesOtherThanPings(), owesOthers);
    // A run that ended in step closes the books: what comes after is the board's own again.
    book.Close();
    QVERIFY(book.Account("\r\n" + QByteArray("stray\r\n")).Kind == TReplyKind::rkUnasked);
}

void TestCommProtocol::answers_data() {
    QTest::addColumn<QByteArray>("command"); // which operation: INIT, RESET, PROG, PING
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("init ok") << QByteArray("INIT") << Framed("P INIT", "FLASH is ready to programming.\r\n")
                             << true;
    QTest::newRow("init other text") << QByteArray("INIT") << Framed("P INIT", "FLASH error\r\n") << false;
    QTest::newRow("reset ok") << QByteArray("RESET") << Framed("P RESET", "FLASH reset done\r\n") << true;
    QTest::newRow("prog ok") << QByteArray("PROG") << Framed("P PROG 000100 12AB", "Done\r\n") << true;
    QTest::newRow("prog extra CR LF")
        << QByteArray("PROG") << Framed("P PROG 000100 12AB", "Done\r\n\r\n") << false;
    QTest::newRow("prog trailing space")
        << QByteArray("PROG") << Framed("P PROG 000100 12AB", "Done \r\n") << false;
    QTest::newRow("prog lower case") << QByteArray("PROG") << Framed("P PROG 000100 12AB", "done\r\n")
                                     << false;
    // The first line is always dropped: a result without the echo line in front leaves nothing.
    QTest::newRow("no echo line") << QByteArray("PROG") << QByteArray("Done\r\n>") << false;
    QTest::newRow("noise before echo")
        << QByteArray("PROG") << "\x01junk" + Framed("P PROG 000100 12AB", "Done\r\n") << true;
    QTest::newRow("ping ok") << QByteArray("PING") << QByteArray("\r\n\r\n>") << true;
    QTest::newRow("ping only CR LF") << QByteArray("PING") << QByteArray("\r\n>") << false;
}

void TestCommProtocol::answers() {
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    QFETCH(bool, accepted);
    TPtyPair pty;
    QVERIFY(pty.IsOpen());
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    TScriptedBoard board(pty);
    board.AnswerNext(answer);
    const std::uint8_t data[] = {0x12, 0xAB};
    bool result = false;
    QByteArray expectedLine;
    if (command == "INIT") {
        result = protocol.InitFlash();
        expectedLine = "P INIT\r";
    } else if (command == "RESET") {
        result = protocol.ResetFlash();
        expectedLine = "P RESET\r";
    } else if (command == "PROG") {
        result = protocol.ProgramBlock(0x100, data, 2);
        expectedLine = "P PROG 000100 12AB\r";
    } else {
        result = protocol.PingTarget();
        expectedLine = "\r";
    }
    QCOMPARE(board.Received(), expectedLine);
    QCOMPARE(result, accepted);
}

void TestCommProtocol::identify_data() {
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("deviceId");
    QTest::addColumn<QByteArray>("manufacturer");
    QTest::newRow("both") << QByteArray("DeviceID: VF040B Manufacturer: VELUM\r\n") << true
                          << QByteArray("VF040B") << QByteArray("VELUM");
    QTest::newRow("no blank before value")
        << QByteArray("DeviceID:X1 Manufacturer:M1\r\n") << true << QByteArray("X1") << QByteArray("M1");
    QTest::newRow("id without manufacturer")
        << QByteArray("DeviceID: VF040B\r\n") << false << QByteArray("VF040B") << QByteArray();
    QTest::newRow("wrong case of literal")
        << QByteArray("deviceid: A Manufacturer: B\r\n") << false << QByteArray() << QByteArray();
    QTest::newRow("token of 50") << "DeviceID: " + QByteArray(50, 'I') + " Manufacturer: M\r\n"
                                 << true << QByteArray(50, 'I') << QByteArray("M");
    QTest::newRow("token of 51") << "DeviceID: " + QByteArray(51, 'I') + " Manufacturer: M\r\n"
                                 << false << QByteArray(51, 'I') << QByteArray();
}

void TestCommProtocol::identify() {
    QFETCH(QByteArray, result);
    QFETCH(bool, ok);
    QFETCH(QByteArray, deviceId);
    QFETCH(QByteArray, manufacturer);
    QByteArray id;
    QByteArray maker;
    QCOMPARE(ScanIdentifyReply(result, id, maker), ok);
    QCOMPARE(id, deviceId);
    if (ok)
        QCOMPARE(maker, manufacturer);

    // The same answer through the line.
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    TScriptedBoard board(pty);
    board.AnswerNext(Framed("P ID", result));
    QByteArray lineId;
    QByteArray lineMaker;
    QCOMPARE(protocol.IdentifyFlash(lineId, lineMaker), ok);
    QCOMPARE(board.Received(), QByteArray("P ID\r"));
}

void TestCommProtocol::compareScanning_data() {
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<bool>("returns");
    QTest::addColumn<bool>("compareOk");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("actual");
    QTest::newRow("ok") << QByteArray("Compare OK\r\n") << true << true << 0u << 0 << 0;
    QTest::newRow("ok plus CR LF") << QByteArray("Compare OK\r\n\r\n") << false << false << 0u << 0 << 0;
    QTest::newRow("mismatch") << QByteArray("Compare error at address 1F00: Expected: 12 Actual: FF\r\n")
                              << true << false << 0x1F00u << 0x12 << 0xFF;
    // A board compares bytes: wider values are no reply of the protocol, never cut down to fit.
    QTest::newRow("values wider than a byte")
        << QByteArray("Compare error at address 20: Expected: 12345 Actual: abcdef\r\n") << false << false
        << 0u << 0 << 0;
    QTest::newRow("missing actual") << QByteArray("Compare error at address 20: Expected: 1\r\n") << false
                                    << false << 0x20u << 1 << 0;
    QTest::newRow("garbage") << QByteArray("Compare bananas\r\n") << false << false << 0u << 0 << 0;
}

void TestCommProtocol::compareScanning() {
    QFETCH(QByteArray, result);
    QFETCH(bool, returns);
    QFETCH(bool, compareOk);
    QFETCH(quint32, address);
    QFETCH(int, expected);
    QFETCH(int, actual);
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    TScriptedBoard board(pty);
    board.AnswerNext(Framed("P VERIFY 001F00 12", result));
    TCompareResult compare;
    compare.CompareOK = true;
    const std::uint8_t data[] = {0x12};
    QCOMPARE(protocol.VerifyBlock(0x1F00, data, 1, compare), returns);
    QCOMPARE(board.Received(), QByteArray("P VERIFY 001F00 12\r"));
    QCOMPARE(compare.CompareOK, compareOk);
    if (returns && !compareOk) {
        QCOMPARE(compare.Address, address);
        QCOMPARE(int(compare.Expected), expected);
        QCOMPARE(int(compare.Actual), actual);
    }
}

void TestCommProtocol::closedPortFailsAtOnce() {
    TCommProtocol protocol;
    QByteArray id;
    QByteArray maker;
    TCompareResult compare;
    const std::uint8_t data[] = {1};
    // A closed port must not wait for any time-out: each command fails for the port, not the clock.
    QVERIFY(!protocol.PingTarget() && !protocol.TimedOut());
    QVERIFY(!protocol.IdentifyFlash(id, maker) && !protocol.TimedOut());
    QVERIFY(!protocol.InitFlash() && !protocol.TimedOut());
    QVERIFY(!protocol.ProgramBlock(0, data, 1) && !protocol.TimedOut());
    QVERIFY(!protocol.ResetFlash() && !protocol.TimedOut());
    QVERIFY(!protocol.VerifyBlock(0, data, 1, compare) && !protocol.TimedOut());
}

void TestCommProtocol::answerRacingTheTimeout() {
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    // The answer is queued while the thread is held (as a modal box would hold it), so that it is
    // delivered in the same pass in which the reply timer fires: the answer that is there wins.
    QTimer::singleShot(0, [&pty] {
        pty.Write(Framed("P INIT", "FLASH is ready to programming.\r\n"));
        QThread::msleep(150);
    });
    protocol.SetReplyTimeout(20);
    QVERIFY(protocol.WaitForReply());
    QVERIFY(!protocol.TimedOut());
    QCOMPARE(protocol.Reply(), QByteArray("FLASH is ready to programming.\r\n"));
}

void TestCommProtocol::nestedCommandIsRefused() {
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    TScriptedBoard board(pty);
    board.AnswerNext(Framed("P INIT", "FLASH is ready to programming.\r\n"));
    bool nestedResult = true;
    QTimer::singleShot(0, [&] { nestedResult = protocol.PingTarget(); });
    QVERIFY(protocol.InitFlash());
    QVERIFY(!nestedResult);
    QCOMPARE(board.Received(), QByteArray("P INIT\r"));
    QVERIFY(pty.Read(1, 300ms).isEmpty()); // nothing of the refused ping on the line
}

void TestCommProtocol::strayCompareErrorFailsTheClose() {
    // An echoing board sends a bare "Compare error", then the echoed "Compare OK": the bare one is
    // taken by none, the retry takes the echoed one, and the run still cannot close well.
    TPtyPair pty;
    TCommProtocol protocol;
    QVERIFY(Connect(protocol, pty.SlavePath()));
    TScriptedBoard board(pty);
    board.AnswerNext(Framed("P INIT", "FLASH is ready to programming.\r\n"));
    QVERIFY(protocol.InitFlash());
    protocol.BeginRun();
    board.AnswerNext(Framed("", "Compare error at address 1F00: Expected: 12 Actual: 13\r\n") +
                     Framed("P VERIFY 001F00 12", "Compare OK\r\n"));
    const std::uint8_t data[] = {0x12};
    TCompareResult compare;
    QVERIFY(!protocol.VerifyBlock(0x1F00, data, 1, compare));
    QVERIFY(!protocol.LineFailed());
    QVERIFY2(
        protocol.LastFailure().contains(QStringLiteral("the board answered without echoing the command")),
        qPrintable(protocol.LastFailure()));
    QVERIFY(protocol.VerifyBlock(0x1F00, data, 1, compare));
    QVERIFY(compare.CompareOK);
    board.AnswerNext("\r\n\r\n>");
    QVERIFY(!protocol.CloseRun());
    QVERIFY(protocol.LineFailed());
    QVERIFY2(protocol.LastFailure().contains(QStringLiteral("Compare error at address 1F00")),
             qPrintable(protocol.LastFailure()));
}

QTEST_GUILESS_MAIN(TestCommProtocol)
#include "tst_comm_protocol.moc"

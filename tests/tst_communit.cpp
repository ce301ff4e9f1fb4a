// Reply framing of the communication unit and its two primitives.

#include "serial/communit.h"
#include "tests/support/ptypair.h"

#include <QtTest>

#include <chrono>

using namespace std::chrono_literals;

namespace {

void Deliver(TCommunicationUnit& unit, const QByteArray& bytes) {
    unit.CommPortDriverReceiveData(unit.CommPortDriver(),
                                   reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                   std::uint32_t(bytes.size()));
}

int ReadReplyErrorCode(TCommunicationUnit& unit) {
    try {
        unit.ReadReply();
    } catch (const EComUnitError& error) {
        return error.ErrorCode();
    }
    return 0;
}

} // namespace

class TestCommunit : public QObject {
    Q_OBJECT

private slots:
    void construction();
    void framing_data();
    void framing();
    void readReplyKeepsTheReply();
    void sendCommandClearsReady();
    void sendCommandOnClosedPort();
    void errorMessages_data();
    void errorMessages();
};

void TestCommunit::construction() {
    TCommunicationUnit unit;
    TCommPortDriver* driver = unit.CommPortDriver();
    QVERIFY(driver);
    QCOMPARE(driver->parent(), &unit);
    QCOMPARE(driver->Port(), pnCustom);
    QCOMPARE(driver->PortName(), QStringLiteral("\\\\.\\COM2"));
    QCOMPARE(driver->PollingDelay(), std::uint16_t(5));
    QVERIFY(bool(driver->OnReceiveData));
    QVERIFY(!driver->Connected());
    QVERIFY(!unit.RxReady());
    QVERIFY(unit.RxReply().isEmpty());
    QVERIFY(unit.RxBuffer().isEmpty());
}

void TestCommunit::framing_data() {
    QTest::addColumn<QList<QByteArray>>("deliveries");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("buffer");

    QTest::newRow("split over three deliveries")
        << QList<QByteArray>{"Do", "ne\r\n", ">"} << true << QByteArray("Done\r\n") << QByteArray();
    QTest::newRow("CR LF split too") << QList<QByteArray>{"ok\r", "\n", ">"} << true << QByteArray("ok\r\n")
                                     << QByteArray();
    QTest::newRow("CR LF > alone") << QList<QByteArray>{"\r\n>"} << true << QByteArray("\r\n")
                                   << QByteArray();
    // A '>' that closes nothing stays in the text: it must never turn a wrong answer into a right one.
    QTest::newRow("> alone") << QList<QByteArray>{">"} << false << QByteArray() << QByteArray(">");
    QTest::newRow("> inside a line") << QList<QByteArray>{"a>b\r\n"} << false << QByteArray()
                                     << QByteArray("a>b\r\n");
    QTest::newRow("> inside, then closed")
        << QList<QByteArray>{"Do>ne\r\n>"} << true << QByteArray("Do>ne\r\n") << QByteArray();
    QTest::newRow("> after CR only") << QList<QByteArray>{"ab\r>"} << false << QByteArray()
                                     << QByteArray("ab\r>");
    QTest::newRow("> after LF CR") << QList<QByteArray>{"ab\n\r>"} << false << QByteArray()
                                   << QByteArray("ab\n\r>");
    QTest::newRow("prompts after the closing one")
        << QList<QByteArray>{"OK\r\n>>>"} << true << QByteArray("OK\r\n") << QByteArray(">>");
    QTest::newRow("closing > in the next delivery")
        << QList<QByteArray>{"OK\r", "\n", ">"} << true << QByteArray("OK\r\n") << QByteArray();
    QTest::newRow("two replies in one delivery")
        << QList<QByteArray>{"one\r\n>two\r\n>"} << true << QByteArray("two\r\n") << QByteArray();
    QTest::newRow("bytes after > in the same delivery")
        << QList<QByteArray>{"ok\r\n>xy"} << true << QByteArray("ok\r\n") << QByteArray("xy");
    QTest::newRow("a new byte clears ready")
        << QList<QByteArray>{"ok\r\n>", "x"} << false << QByteArray("ok\r\n") << QByteArray("x");
    QTest::newRow("an empty delivery clears ready")
        << QList<QByteArray>{"ok\r\n>", ""} << false << QByteArray("ok\r\n") << QByteArray();
    QTest::newRow("zero and control bytes kept") << QList<QByteArray>{QByteArray("a\0\x07\r\n>", 6)} << true
                                                 << QByteArray("a\0\x07\r\n", 5) << QByteArray();
    // Text longer than any answer is dropped, and so is the reply it ends in; the next one is whole.
    QTest::newRow("flood") << QList<QByteArray>{QByteArray(3000, 'x'), QByteArray(3000, 'y'), "z\r\n>",
                                                "P ID\r\nok\r\n>"}
                           << true << QByteArray("P ID\r\nok\r\n") << QByteArray();
    QTest::newRow("noise becomes the front of the reply")
        << QList<QByteArray>{"banner", "P ID\r\nDone\r\n>"} << true << QByteArray("bannerP ID\r\nDone\r\n")
        << QByteArray();
}

void TestCommunit::framing() {
    QFETCH(QList<QByteArray>, deliveries);
    QFETCH(bool, ready);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, buffer);
    TCommunicationUnit unit;
    for (const QByteArray& delivery : deliveries)
        Deliver(unit, delivery);
    QCOMPARE(unit.RxReady(), ready);
    QCOMPARE(unit.RxReply(), reply);
    QCOMPARE(unit.RxBuffer(), buffer);
    QCOMPARE(ReadReplyErrorCode(unit), ready ? 0 : 2);
    QVERIFY(unit.CommPortDriver()->IsPolling()); // every pause was matched
    QCOMPARE(unit.Overflows(), std::uint64_t(QTest::currentDataTag() == QByteArray("flood") ? 1 : 0));
    // Every reply that closed is queued for the protocol, in order; the last one is RxReply.
    QByteArray last;
    for (QByteArray taken; unit.TakeReply(taken);)
        last = taken;
    QCOMPARE(last, unit.RxReply());
}

void TestCommunit::readReplyKeepsTheReply() {
    TCommunicationUnit unit;
    QCOMPARE(ReadReplyErrorCode(unit), 2);
    Deliver(unit, "P ID\r\nDone\r\n>");
    QCOMPARE(unit.ReadReply(), QByteArray("P ID\r\nDone\r\n"));
    QCOMPARE(unit.ReadReply(), QByteArray("P ID\r\nDone\r\n"));
    QVERIFY(unit.RxReady());
}

void TestCommunit::sendCommandClearsReady() {
    TPtyPair pty;
    TCommunicationUnit unit;
    unit.CommPortDriver()->SetPortName(pty.SlavePath());
    QVERIFY(unit.CommPortDriver()->Connect());
    Deliver(unit, "first\r\n>");
    QVERIFY(unit.RxReady());
    unit.SendCommand("P ID\r");
    QVERIFY(!unit.RxReady());
    QCOMPARE(unit.RxReply(), QByteArray("first\r\n"));
    QCOMPARE(ReadReplyErrorCode(unit), 2);
    QCOMPARE(pty.ReadUntil('\r', 2s), QByteArray("P ID\r"));
    Deliver(unit, "second\r\n>");
    QCOMPARE(unit.ReadReply(), QByteArray("second\r\n"));
}

void TestCommunit::sendCommandOnClosedPort() {
    TCommunicationUnit unit;
    Deliver(unit, "ready\r\n>");
    QVERIFY(!unit.SendCommand("P INIT\r")); // a short write
    QVERIFY(!unit.RxReady());
    QVERIFY(unit.SendCommand(QByteArray())); // nothing to write, nothing short
}

void TestCommunit::errorMessages_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    QTest::newRow("1, empty") << 1 << QString()
                              << QStringLiteral("Transmitting error occurred!\nSome data may be lost.");
    QTest::newRow("2, empty") << 2 << QString() << QStringLiteral("Data not ready!");
    QTest::newRow("1, own text") << 1 << QStringLiteral("line dropped") << QStringLiteral("line dropped");
    QTest::newRow("2, own text") << 2 << QStringLiteral("später") << QStringLiteral("später");
    QTest::newRow("unknown code, empty") << 9 << QString() << QString();
}

void TestCommunit::errorMessages() {
    QFETCH(int, code);
    QFETCH(QString, given);
    QFETCH(QString, expected);
    const EComUnitError error(code, given);
    QCOMPARE(error.ErrorCode(), code);
    QCOMPARE(error.Message(), expected);
    QCOMPARE(QString::fromUtf8(error.what()), expected);
    const std::runtime_error& base = error;
    QCOMPARE(QString::fromUtf8(base.what()), expected);
}

QTEST_GUILESS_MAIN(TestCommunit)
#include "tst_communit.moc"

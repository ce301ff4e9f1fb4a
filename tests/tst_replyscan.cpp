// The identify and compare answers are read whole: a number that does not fit, a second line or words
// after the answer make it no such answer, instead of a shortened reading of it.

#include "protocol/replyscan.h"

#include <QTest>

class TestReplyScan : public QObject {
    Q_OBJECT
private slots:
    void strictReading_data();
    void strictReading();
};

void TestReplyScan::strictReading_data() {
    QTest::addColumn<bool>("identify"); // else a compare answer
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("read"); // what was read, as "id maker" or "address expected actual"

    const QByteArray id = "DeviceID: VF040B Manufacturer: VELUM";
    QTest::newRow("identify as the monitor sends it") << true << id + "\r\n"
                                                      << true << QByteArray("VF040B VELUM");
    QTest::newRow("identify with tabs and runs of blanks")
        << true << QByteArray("DeviceID:\tVF040B   Manufacturer:  VELUM\r\n") << true
        << QByteArray("VF040B VELUM");
    QTest::newRow("identify with trailing words") << true << id + " trailing words\r\n"
                                                  << false << QByteArray();
    QTest::newRow("identify with a trailing blank") << true << id + " \r\n" << false << QByteArray();
    QTest::newRow("identify run into the next answer") << true << id + ">\r\n" << false << QByteArray();
    QTest::newRow("identify and a second line") << true << id + "\r\nDone\r\n" << false << QByteArray();
    QTest::newRow("identify without its line end") << true << id << false << QByteArray();
    QTest::newRow("identify with a NUL in the maker")
        << true << QByteArray("DeviceID: VF040B Manufacturer: HOSTCO") + '\0' + "EVIL\r\n"
        << false << QByteArray();

    const QByteArray error = "Compare error at address ";
    QTest::newRow("compare as the monitor sends it") << false << error + "001F00: Expected: 12 Actual: FF\r\n"
                                                     << true << QByteArray("1F00 12 FF");
    QTest::newRow("compare in lower case") << false << error + "abcdef: Expected: 0a Actual: ff\r\n"
                                           << true << QByteArray("ABCDEF A FF");
    QTest::newRow("compare at the highest address, leading zeros")
        << false << error + "00FFFFFFFF: Expected: 000 Actual: 01\r\n"
        << true << QByteArray("FFFFFFFF 0 1");
    QTest::newRow("compare address past 32 bits")
        << false << error + "FFFFFFFFFF: Expected: 12345 Actual: 1FFFF\r\n"
        << false << QByteArray();
    QTest::newRow("compare address of nine digits")
        << false << error + "100000000: Expected: 12 Actual: 34\r\n"
        << false << QByteArray();
    QTest::newRow("compare value past a byte") << false << error + "20: Expected: 100 Actual: 34\r\n"
                                               << false << QByteArray();
    QTest::newRow("compare negative value") << false << error + "20: Expected: -1 Actual: 34\r\n"
                                            << false << QByteArray();
    QTest::newRow("compare with 0x") << false << error + "0x20: Expected: 12 Actual: 34\r\n"
                                     << false << QByteArray();
    QTest::newRow("compare without digits") << false << error + ": Expected: 12 Actual: 34\r\n"
                                            << false << QByteArray();
    QTest::newRow("compare with a double blank") << false << error + "20:  Expected: 12 Actual: 34\r\n"
                                                 << false << QByteArray();
    QTest::newRow("compare then Compare OK")
        << false << error + "20: Expected: 12 Actual: 34\r\nCompare OK\r\n"
        << false << QByteArray();
    QTest::newRow("Compare OK then compare")
        << false << "Compare OK\r\n" + error + "20: Expected: 12 Actual: 34\r\n"
        << false << QByteArray();
    QTest::newRow("compare without its line end")
        << false << error + "20: Expected: 12 Actual: 34" << false << QByteArray();
}

void TestReplyScan::strictReading() {
    QFETCH(bool, identify);
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, read);
    QByteArray found;
    if (identify) {
        QByteArray deviceId;
        QByteArray manufacturer;
        QCOMPARE(ScanIdentifyReply(reply, deviceId, manufacturer), accepted);
        if (accepted)
            found = deviceId + ' ' + manufacturer;
    } else {
        TCompareResult result;
        QCOMPARE(ScanCompareReply(reply, result), accepted);
        if (accepted) {
            found = QByteArray::number(result.Address, 16).toUpper() + ' ' +
                    QByteArray::number(result.Expected, 16).toUpper() + ' ' +
                    QByteArray::number(result.Actual, 16).toUpper();
        }
    }
    QCOMPARE(found, read);
}

QTEST_GUILESS_MAIN(TestReplyScan)
#include "tst_replyscan.moc"

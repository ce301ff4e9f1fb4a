// The start-address field's conversion: what is accepted, what is refused, and how it is shown back.

#include "engine/startaddress.h"

#include <QTest>

class TestStartAddress : public QObject {
    Q_OBJECT
private slots:
    void conversion_data();
    void conversion();
    void errorText();
};

void TestStartAddress::conversion_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("shown"); // the field after leaving it, from a previous value of 0
    QTest::newRow("plain digits are hexadecimal") << "1234" << true << "00001234";
    QTest::newRow("with prefix") << "0x1234" << true << "00001234";
    QTest::newRow("10 is sixteen") << "10" << true << "00000010";
    QTest::newRow("letters") << "FF" << true << "000000FF";
    QTest::newRow("lower case") << "0xdeadBEEF" << true << "DEADBEEF";
    QTest::newRow("all bits set") << "FFFFFFFF" << true << "FFFFFFFF";
    QTest::newRow("leading zeros beyond eight digits") << "000000001" << true << "00000001";
    QTest::newRow("illegal digit") << "12G4" << false << "00000000";
    QTest::newRow("empty") << "" << false << "00000000";
    QTest::newRow("prefix alone") << "0x" << false << "00000000";
    QTest::newRow("nine significant digits") << "100000000" << false << "00000000";
    QTest::newRow("leading blank") << " 12" << false << "00000000";
    QTest::newRow("trailing blank") << "12 " << false << "00000000";
    QTest::newRow("upper-case prefix") << "0X12" << true << "00000012";
    QTest::newRow("sign") << "-1" << false << "00000000";
    QTest::newRow("huge") << "0x123456789ABCDEF0123" << false << "00000000";
}

void TestStartAddress::conversion() {
    QFETCH(QString, typed);
    QFETCH(bool, valid);
    QFETCH(QString, shown);
    const std::optional<std::int32_t> value = ParseStartAddress(typed);
    QCOMPARE(value.has_value(), valid);
    QCOMPARE(FormatStartAddress(value.value_or(0)), shown);
}

void TestStartAddress::errorText() {
    QCOMPARE(StartAddressErrorText(QStringLiteral("12G4")),
             QStringLiteral("\"12G4\" is illegal hexadecimal string"));
    QCOMPARE(StartAddressErrorText(QString()), QStringLiteral("\"\" is illegal hexadecimal string"));
    QCOMPARE(*ParseStartAddress(QStringLiteral("80000000")), std::int32_t(INT32_MIN));
}

QTEST_GUILESS_MAIN(TestStartAddress)
#include "tst_startaddress.moc"

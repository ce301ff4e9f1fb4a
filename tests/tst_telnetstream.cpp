// The Telnet stream of a network port, byte by byte: what a serial server may send, whole or broken.

#include "serial/telnetstream.h"

#include <QTest>

class TestTelnetStream : public QObject {
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
};

void TestTelnetStream::decodes_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("events"); // kind letter and option per event: W will, D do, S sub, C command
    QTest::newRow("plain") << QByteArrayLiteral("P ID\r\n>") << QByteArrayLiteral("P ID\r\n>") << "";
    QTest::newRow("doubled IAC is one line byte") << QByteArrayLiteral("a\xff\xff"
                                                                       "b")
                                                  << QByteArrayLiteral("a\xff"
                                                                       "b")
                                                  << "";
    QTest::newRow("verbs between data")
        << QByteArrayLiteral("x\xff\xfd\x2cy\xff\xfb\x00") << QByteArrayLiteral("xy") << "D44 W0";
    QTest::newRow("rate answer") << QByteArrayLiteral("\xff\xfa\x2c\x65\x00\x01\xc2\x00\xff\xf0")
                                 << QByteArray() << "S44";
    QTest::newRow("IAC inside a subnegotiation")
        << QByteArrayLiteral("\xff\xfa\x2c\x65\x00\x00\x00\xff\xff\xff\xf0z") << QByteArrayLiteral("z")
        << "S44";
    QTest::newRow("subnegotiation without IAC SE")
        << QByteArrayLiteral("\xff\xfa\x2c\x6b\x10\xff\xfd\x01q") << QByteArrayLiteral("q") << "D1";
    QTest::newRow("oversized subnegotiation dropped")
        << (QByteArrayLiteral("\xff\xfa\x2c") + QByteArray(100, 'x') + QByteArrayLiteral("\xff\xf0ok"))
        << QByteArrayLiteral("ok") << "";
    QTest::newRow("NOP and GA carry nothing") << QByteArrayLiteral("\xff\xf1"
                                                                   "a\xff\xf9")
                                              << QByteArrayLiteral("a") << "C241 C249";
    QTest::newRow("cut after IAC") << QByteArrayLiteral("ab\xff") << QByteArrayLiteral("ab") << "";
    QTest::newRow("cut inside a verb") << QByteArrayLiteral("\xff\xfb") << QByteArray() << "";
}

void TestTelnetStream::decodes() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, line);
    QFETCH(QString, events);
    // Whole and a byte at a time give the same.
    for (const bool bytewise : {false, true}) {
        telnet::TDecoder decoder;
        QByteArray got;
        std::vector<telnet::TEvent> found;
        const auto* data = reinterpret_cast<const std::uint8_t*>(input.constData());
        if (bytewise) {
            for (qsizetype i = 0; i < input.size(); ++i)
                decoder.Feed(data + i, 1, got, found);
        } else {
            decoder.Feed(data, std::size_t(input.size()), got, found);
        }
        QStringList seen;
        for (const telnet::TEvent& event : found)
            seen << QStringLiteral("%1%2").arg(QLatin1Char("WwDdSC"[event.Kind])).arg(event.Option);
        QCOMPARE(got, line);
        QCOMPARE(seen.join(' '), events);
    }
}

QTEST_GUILESS_MAIN(TestTelnetStream)
#include "tst_telnetstream.moc"

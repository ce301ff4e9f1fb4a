// tervolt-cli's command line and the dry run `blocks`, run as a user runs them.

#include "cli/clioptions.h"
#include "tests/support/clirun.h"
#include "tests/support/hexwriter.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

} // namespace

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;

private slots:
    void usage_data();
    void usage();
    void defaultFormat();
    void blocksOfHexImage();
    void blocksOfBinaryImage();
    void blocksOfMalformedImage();
};

void TestCli::usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("stderrHas");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "";
    QTest::newRow("no command") << QStringList{} << 64 << "no command";
    QTest::newRow("unknown command") << QStringList{"flash"} << 64 << "unknown command";
    QTest::newRow("missing file") << QStringList{"program"} << 64 << "needs an image file";
    QTest::newRow("extra argument") << QStringList{"ping", "x"} << 64 << "unexpected argument";
    QTest::newRow("unknown option") << QStringList{"--bogus", "ping"} << 64 << "bogus";
    QTest::newRow("bad format") << QStringList{"blocks", "a.hex", "--format", "srec"} << 64 << "invalid format";
    QTest::newRow("bad start address") << QStringList{"blocks", "a.bin", "--start-address", "12G4"} << 64
                                       << "\"12G4\" is illegal hexadecimal string";
    QTest::newRow("bad baud") << QStringList{"--baud", "fast", "ping"} << 64 << "invalid baud rate";
    QTest::newRow("both header options") << QStringList{"blocks", "a.bin", "--size-header", "--no-size-header"}
                                         << 64 << "exclude each other";
}

void TestCli::usage() {
    QFETCH(QStringList, args);
    QFETCH(int, exit);
    QFETCH(QString, stderrHas);
    const TCliRun run = RunCli(args);
    QCOMPARE(run.Exit, exit);
    QVERIFY2(run.Err.contains(stderrHas), qPrintable(run.Err));
}

void TestCli::defaultFormat() {
    QCOMPARE(DefaultFileFormat(QStringLiteral("/x/image.RBF")), 2);
    QCOMPARE(DefaultFileFormat(QStringLiteral("image.bin")), 2);
    QCOMPARE(DefaultFileFormat(QStringLiteral("image.hex")), 1);
    QCOMPARE(DefaultFileFormat(QStringLiteral("image")), 1);
    // Options may follow the command and the file.
    const TCliParseResult parsed = ParseCliArguments(
        {"tervolt-cli", "blocks", "a.bin", "--format", "hex", "--start-address", "0x10", "--no-size-header"});
    QVERIFY(parsed.Options);
    QCOMPARE(parsed.Options->FileFormat, 1);
    QCOMPARE(parsed.Options->StartAddress, 0x10u);
    QVERIFY(!parsed.Options->WriteSizeHeader);
}

void TestCli::blocksOfHexImage() {
    const QString path = FDir.filePath(QStringLiteral("small.hex"));
    // The highest address a segment can reach: 0xFFFF0 + 0xFFFF, above 1 MiB.
    const QByteArray text = IntelHexText({{0x100, QByteArray("\x12\xAB", 2)}, {0x102, QByteArray("\x0A\xFF", 2)}},
                                         false) +
                            IntelHexRecord(0x02, 0, QByteArray("\xFF\xFF", 2)) +
                            IntelHexRecord(0x00, 0xFFFF, QByteArray("\x00", 1)) + ":00000001FF\n";
    QVERIFY(WriteFile(path, text));
    const TCliRun program = RunCli({"blocks", path});
    QCOMPARE(program.Exit, 0);
    QCOMPARE(program.Out, (QStringList{"P PROG 000100 12AB0AFF", "P PROG 10FFEF 00", "Program OK!"}));
    const TCliRun verify = RunCli({"--verify", "blocks", path});
    QCOMPARE(verify.Exit, 0);
    QCOMPARE(verify.Out, (QStringList{"P VERIFY 000100 12AB0AFF", "P VERIFY 10FFEF 00", "Compare OK!"}));
}

void TestCli::blocksOfBinaryImage() {
    const QString path = FDir.filePath(QStringLiteral("five.rbf"));
    QVERIFY(WriteFile(path, QByteArray("\x01\x02\x03\x04\x05", 5)));
    const TCliRun withHeader = RunCli({"blocks", path, "--start-address", "1000"});
    QCOMPARE(withHeader.Exit, 0);
    QCOMPARE(withHeader.Out, (QStringList{"P PROG 001000 050000000102030405", "Program OK!"}));
    const TCliRun plain = RunCli({"blocks", path, "--no-size-header", "--start-address", "FFFFFFFB"});
    QCOMPARE(plain.Out, (QStringList{"P PROG FFFFFFFB 0102030405", "Program OK!"}));
}

void TestCli::blocksOfMalformedImage() {
    const QString path = FDir.filePath(QStringLiteral("bad.hex"));
    QVERIFY(WriteFile(path, ":0100000055AA\n:0100000055AB\n"));
    const TCliRun bad = RunCli({"blocks", path});
    QCOMPARE(bad.Exit, 2);
    QCOMPARE(bad.Out, QStringList{"Illegal record in file."});
    const TCliRun missing = RunCli({"blocks", FDir.filePath(QStringLiteral("missing.hex"))});
    QCOMPARE(missing.Exit, 2);
    QCOMPARE(missing.Out, QStringList{"Cannot open file."});
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"

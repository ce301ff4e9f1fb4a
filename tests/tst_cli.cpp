// tervolt-cli's command line and the dry run `blocks`, run as a user runs them.

#include "cli/clioptions.h"
#include "common/version.h"
#include "files/systemfiles.h"
#include "tests/support/clirun.h"
#include "tests/support/hexwriter.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A path as the shell's printf reads it: every byte in octal, so that names that are not UTF-8 reach
// the program byte for byte (QProcess would encode its arguments as text).
QString OctalEscaped(const QByteArray& path) {
    QString escaped;
    for (const char c : path)
        escaped += QStringLiteral("\\%1").arg(uint(std::uint8_t(c)), 3, 8, QLatin1Char('0'));
    return escaped;
}

// Runs `script` under /bin/sh with $0 = tervolt-cli and $1 = `file`'s bytes; stdout and stderr merged.
QString RunShell(const QString& script, const QByteArray& file) {
    QProcess shell;
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("set -- \"$(printf '%1')\"; ").arg(OctalEscaped(file)) + script,
                 QStringLiteral(TERVOLT_BIN_DIR "/tervolt-cli")});
    if (!shell.waitForFinished(120000))
        return QStringLiteral("(did not finish)");
    return QString::fromLocal8Bit(shell.readAll()).trimmed();
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;

private slots:
    void usage_data();
    void usage();
    void informationOptions_data();
    void informationOptions();
    void defaultFormat();
    void blocksOfHexImage();
    void blocksOfBinaryImage();
    void blocksOfMalformedImage();
    void imageInputs_data();
    void imageInputs();
    void brokenStreams_data();
    void brokenStreams();
};

void TestCli::usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("stderrHas");
    // --help and --version: informationOptions.
    QTest::newRow("no command") << QStringList{} << 64 << "no command";
    QTest::newRow("unknown command") << QStringList{"flash"} << 64 << "unknown command";
    QTest::newRow("missing file") << QStringList{"program"} << 64 << "needs an image file";
    QTest::newRow("extra argument") << QStringList{"ping", "x"} << 64 << "unexpected argument";
    QTest::newRow("unknown option") << QStringList{"--bogus", "ping"} << 64 << "bogus";
    QTest::newRow("bad format") << QStringList{"blocks", "a.hex", "--format", "s19"} << 64
                                << "invalid format";
    QTest::newRow("bad start address") << QStringList{"blocks", "a.bin", "--start-address", "12G4"} << 64
                                       << "\"12G4\" is illegal hexadecimal string";
    QTest::newRow("bad baud") << QStringList{"--baud", "fast", "ping"} << 64 << "invalid baud rate";
    QTest::newRow("both header options")
        << QStringList{"blocks", "a.bin", "--size-header", "--no-size-header"} << 64 << "exclude each other";
    // An unset variable in a script must not quietly mean the stored port.
    QTest::newRow("empty port") << QStringList{"--port", "", "ping"} << 64 << "empty value for --port";
    // Several boards: what cannot mean a run is refused before any port is touched.
    QTest::newRow("empty item in --ports")
        << QStringList{"--ports", "/dev/a,,/dev/b", "ping"} << 64 << "empty port in --ports";
    QTest::newRow("port twice") << QStringList{"--port", "/dev/a", "--ports", "/dev/b,/dev/a", "ping"} << 64
                                << "port '/dev/a' given twice";
    QTest::newRow("auto with a port")
        << QStringList{"--port", "auto", "--port", "/dev/a", "ping"} << 64 << "no other port with it";
    QTest::newRow("--all without auto")
        << QStringList{"--port", "/dev/a", "--all", "ping"} << 64 << "--all goes with --port auto";
    QTest::newRow("--json without a board")
        << QStringList{"blocks", "a.hex", "--json"} << 64 << "--json needs a board";
    QTest::newRow("several ports without a board")
        << QStringList{"--ports", "/dev/a,/dev/b", "ports"} << 64 << "needs a board";
    QTest::newRow("--verify with verify")
        << QStringList{"verify", "a.hex", "--verify"} << 64 << "--verify applies to program and blocks only";
    QTest::newRow("empty trace") << QStringList{"--trace", "", "ping"} << 64 << "empty value for --trace";
    QTest::newRow("start address with Intel HEX") << QStringList{"blocks", "a.hex", "--start-address", "10"}
                                                  << 64 << "--start-address applies to binary images only";
    // A single-value option given twice would silently take one of them.
    QTest::newRow("start address twice")
        << QStringList{"blocks", "a.bin", "--start-address", "100", "--start-address=200"} << 64
        << "--start-address given more than once";
    QTest::newRow("trace twice") << QStringList{"--trace", "t1", "--trace", "t2", "ping"} << 64
                                 << "--trace given more than once";
    // Meaningless combinations are refused, not ignored.
    QTest::newRow("blocks with a port") << QStringList{"blocks", "a.hex", "--port", "/dev/a"} << 64
                                        << "--port needs a board: not with 'blocks'";
    QTest::newRow("format without an image") << QStringList{"--format", "hex", "ping"} << 64
                                             << "--format applies to an image file: not with 'ping'";
    // "0X100" is taken like "0x100": the run gets as far as the missing file.
    QTest::newRow("start address 0X100")
        << QStringList{"blocks", "/nonexistent/a.bin", "--start-address", "0X100"} << 2
        << "No such file or directory";
    // A control byte in a name is shown escaped, never written raw into a message.
    QTest::newRow("port name with a newline")
        << QStringList{"--port", "/dev/a\nb\x1b", "--port", "/dev/a\nb\x1b", "ping"} << 64
        << "port '/dev/a\\nb\\x1B' given twice";
    // With --json every exit says so in one JSON object, usage errors too.
    QTest::newRow("--json, bad baud")
        << QStringList{"--baud", "0", "ping", "--json"} << 64 << "invalid baud rate '0'";
    QTest::newRow("--json, port twice")
        << QStringList{"--json", "--port", "/dev/a", "--port", "/dev/a", "ping"} << 64
        << "port '/dev/a' given twice";
    QTest::newRow("--json, unknown option") << QStringList{"--json", "--bogus", "ping"} << 64 << "bogus";
}

void TestCli::usage() {
    QFETCH(QStringList, args);
    QFETCH(int, exit);
    QFETCH(QString, stderrHas);
    const TCliRun run = RunCli(args);
    QCOMPARE(run.Exit, exit);
    QVERIFY2(run.Err.contains(stderrHas), qPrintable(run.Err));
    QVERIFY2(!run.Err.contains(QChar(0x1B)), qPrintable(run.Err));
    if (!args.contains(QStringLiteral("--json")))
        return;
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(run.Out.join(u'\n').toUtf8(), &error);
    QVERIFY2(json.isObject(), qPrintable(error.errorString()));
    QCOMPARE(json[QStringLiteral("exit_status")].toInt(), exit);
    QCOMPARE(json[QStringLiteral("boards")].toArray().size(), 0);
    QVERIFY(json[QStringLiteral("message")].toString().contains(stderrHas));
}

// --help and --version of all three programs; the window answers them without a display.
void TestCli::informationOptions_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("firstLine"); // what the first line of the output starts with
    for (const char* program : {"tervolt", "tervolt-cli", "tervolt-sim"}) {
        const QString name = QLatin1String(program);
        QTest::newRow(qPrintable(name + " --help")) << name << "--help"
                                                    << "Usage: ";
        QTest::newRow(qPrintable(name + " -h")) << name << "-h"
                                                << "Usage: ";
        QTest::newRow(qPrintable(name + " --version"))
            << name << "--version"
            << name + QLatin1Char(' ') + QLatin1String(TervoltVersion()) + QLatin1Char('\n');
    }
}

void TestCli::informationOptions() {
    QFETCH(QString, program);
    QFETCH(QString, option);
    QFETCH(QString, firstLine);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TERVOLT_BIN_DIR "/") + program, {option});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
    QVERIFY2(output.startsWith(firstLine) && output.contains(program), qPrintable(output));
    QCOMPARE(process.readAllStandardError(), QByteArray());
}

void TestCli::defaultFormat() {
    QVERIFY(ImageFormatOfFileName(QStringLiteral("/x/image.RBF")) == TImageFormat::Binary);
    QVERIFY(ImageFormatOfFileName(QStringLiteral("image.bin")) == TImageFormat::Binary);
    QVERIFY(ImageFormatOfFileName(QStringLiteral("image.hex")) == TImageFormat::Auto);
    QVERIFY(ImageFormatOfFileName(QStringLiteral("image")) == TImageFormat::Auto);
    // Options may follow the command and the file.
    const TCliParseResult parsed = ParseCliArguments(
        {"tervolt-cli", "blocks", "a.hex", "--format", "bin", "--start-address", "0x10", "--no-size-header"});
    QVERIFY(parsed.Options);
    QVERIFY(parsed.Options->FileFormat == TImageFormat::Binary);
    QCOMPARE(parsed.Options->StartAddress, 0x10u);
    QVERIFY(!parsed.Options->WriteSizeHeader);
}

void TestCli::blocksOfHexImage() {
    const QString path = FDir.filePath(QStringLiteral("small.hex"));
    // The highest address a segment can reach: 0xFFFF0 + 0xFFFF, above 1 MiB.
    const QByteArray text =
        IntelHexText({{0x100, QByteArray("\x12\xAB", 2)}, {0x102, QByteArray("\x0A\xFF", 2)}}, false) +
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

void TestCli::imageInputs_data() {
    QTest::addColumn<QByteArray>("name"); // created in the test folder unless the content is null
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output"); // the last lines, standard error included
    const QByteArray hex = IntelHexText({{0x100, QByteArray("\x12\xAB", 2)}});
    QTest::newRow("name that is not UTF-8")
        << QByteArray("bad\xFF\xFE.hex") << hex << QStringList() << "P PROG 000100 12AB\nProgram OK!";
    QTest::newRow("binary image past the highest address")
        << QByteArray("five.rbf") << QByteArray(5, 'x') << QStringList{"--start-address", "FFFFFFFC"}
        << "tervolt-cli: $1: its last byte would lie at 0x100000004\n"
           "Image runs past the highest address, 0xFFFFFFFF.";
    QTest::newRow("missing file") << QByteArray("gone.hex") << QByteArray() << QStringList()
                                  << "tervolt-cli: $1: No such file or directory\nCannot open file.";
    // A segment from the top of the file takes the ELF and program headers to the FLASH: said, not hidden.
    QByteArray elf = ElfImage({{0x10000, QByteArray(16, '\x5A')}}, 0);
    const auto put = [&elf](int at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            elf[at + i] = char(value >> (8 * i));
    };
    put(52 + 4, 0);                          // the segment starts at file offset 0
    put(52 + 16, std::uint32_t(elf.size())); // and holds the whole file
    put(52 + 20, std::uint32_t(elf.size()));
    QTest::newRow("ELF headers in a segment")
        << QByteArray("headers.elf") << elf << QStringList()
        << "tervolt-cli: $1: segment 1 includes the ELF headers (84 bytes at 0x10000)\nProgram OK!";
    QTest::newRow("illegal record")
        << QByteArray("bad-line.hex") << QByteArray(":0100000055AA\n:01000000\n") << QStringList()
        << "tervolt-cli: $1: line 2: shorter than any record\nIllegal record in file.";
}

// What a user hands over on the command line reaches the system as it is, and what goes wrong is
// named: the message stays exact, the file and the reason follow on standard error.
void TestCli::imageInputs() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    const QByteArray path = QFile::encodeName(FDir.path()) + '/' + name;
    if (!content.isNull()) {
        QFile file;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0 && file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        QVERIFY(file.write(content) == content.size());
    }
    // The name as a lossy decoding shows it names another file, which must stay untouched. While
    // that one is absent, the dialog's lossy name leads back to the file itself.
    if (QString::fromUtf8(name).toUtf8() != name) {
        QCOMPARE(RecoverChosenFileName(QString::fromUtf8(path)), FileNameFromSystem(path));
        QVERIFY(WriteFile(FDir.filePath(QString::fromUtf8(name)), "not an image\n"));
    }
    const QString said =
        RunShell(QStringLiteral("\"$0\" blocks \"$1\" ") + options.join(u' ') + " 2>&1", path);
    ::unlink(path.constData()); // a name that is not UTF-8 is beyond QTemporaryDir's clean-up
    QCOMPARE(said.split(u'\n').mid(said.count(u'\n') - output.count(u'\n')).join(u'\n'),
             QString(output).replace(QLatin1String("$1"), QString::fromUtf8(path)));
}

void TestCli::brokenStreams_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("output");
    // Closed standard output and error: the image must not become descriptor 1 and take the output.
    QTest::newRow("closed standard streams") << "\"$0\" blocks \"$1\" >&- 2>&-; echo $?"
                                             << "0";
    // A reader that goes away: the documented failure status, not death by SIGPIPE (141).
    QTest::newRow("reader gone") << "{ \"$0\" blocks \"$1\" 2>/dev/null; echo $? >&2; } | head -c 0"
                                 << "3";
}

void TestCli::brokenStreams() {
    QFETCH(QString, script);
    QFETCH(QString, output);
    // More output than a pipe holds, so that a write meets the closed end for certain.
    const QString path = FDir.filePath(QStringLiteral("streams.bin"));
    QVERIFY(WriteFile(path, QByteArray(100 * 1000, '\x5A')));
    QCOMPARE(RunShell(script, QFile::encodeName(path)), output);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"

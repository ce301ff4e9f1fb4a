// tervolt-cli against the simulated board, end to end: the program runs as a user runs it, the board
// is served in-process on a real pseudo-terminal, and what the board holds is compared to the image.

#include "image/hexfiles.h"
#include "sim/simserver.h"
#include "tests/support/clirun.h"
#include "tests/support/hexwriter.h"
#include "tests/support/residentmemory.h"
#include "tests/support/simboard.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray RandomBytes(QRandomGenerator& random, int size) {
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// The outcome line of a run's output. A Program cut short adds what the FLASH holds below it, which
// must be what the board (programmed from address 0 on) really holds.
QString OutcomeLine(const QStringList& out, const TSimServer& server) {
    // What the CLI says the FLASH holds must be what the board holds: the confirmed bytes, and at most
    // the block whose answer never came.
    static const QRegularExpression holds(QStringLiteral(
        "^The FLASH (?:holds the image only up to 0x([0-9A-F]{6})|was erased; nothing was confirmed)\\."
        "(?: The block up to 0x([0-9A-F]{6}) went out unconfirmed: it may be written in part, or elsewhere "
        "if "
        "the line changed it\\.)?$"));
    const TFlashSnapshot snapshot = server.Snapshot();
    const auto programmed = std::count(snapshot.Programmed.begin(), snapshot.Programmed.end(), true);
    if (const QRegularExpressionMatch match = holds.match(out.last()); match.hasMatch()) {
        const qint64 confirmed =
            match.captured(1).isEmpty() ? 0 : match.captured(1).toLongLong(nullptr, 16) + 1;
        const qint64 most =
            match.captured(2).isEmpty() ? confirmed : match.captured(2).toLongLong(nullptr, 16) + 1;
        if (programmed < confirmed || programmed > most)
            return QStringLiteral("%1 bytes programmed, but: %2").arg(programmed).arg(out.last());
        return out.at(out.size() - 2);
    }
    if (out.last() == QStringLiteral("The FLASH was erased; nothing was programmed.") ||
        out.last() == QStringLiteral("The FLASH may have been erased; nothing was programmed."))
        return programmed == 0 ? out.at(out.size() - 2) : out.last();
    return out.last();
}

} // namespace

class TestCliSim : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;
    QTemporaryDir FHome;

    TCliRun Cli(const QStringList& args, int timeoutMs = 120000) {
        return RunCli(args, FHome.path(), timeoutMs);
    }

    static QStringList OnBoard(const TSimServer& server, QStringList args) {
        return QStringList{"--port", QString::fromStdString(server.SlavePath()), "--quiet"} + args;
    }

    static TSimConfig Config(std::vector<TSimFault> faults = {}) {
        TSimConfig config;
        config.Faults = std::move(faults);
        return config;
    }

private slots:
    void programThenVerifyIntelHex();
    void binaryImages_data();
    void binaryImages();
    void droppedAnswersAreRetried();
    void faultKinds_data();
    void faultKinds();
    void mismatchIsReported();
    void lowRateNeedsNoRetry();
    void misbehavingBoards_data();
    void misbehavingBoards();
    void unlistedChip();
    void malformedImageSendsNothing();
    void missingPort();
    void refusedBlockIsNamed();
    void interruptStopsBetweenBlocks_data();
    void interruptStopsBetweenBlocks();
    void runInputs_data();
    void runInputs();
    void traceReaderThatStops();
    void tracesOfTwoRunsStayWhole();
    void simulatorDumpEqualsTheImage();
    void imageFormatsOnTheBoard_data();
    void imageFormatsOnTheBoard();
};

void TestCliSim::programThenVerifyIntelHex() {
    QRandomGenerator random(42);
    std::vector<std::pair<std::uint32_t, QByteArray>> records;
    std::uint32_t address = 0x40;
    for (int i = 0; i < 120; ++i) {
        const int size = 1 + random.bounded(32);
        records.emplace_back(address, RandomBytes(random, size));
        address += std::uint32_t(size) + (random.bounded(5) == 0 ? std::uint32_t(random.bounded(3000)) : 0);
    }
    // Beyond 64 KiB through segment records.
    records.emplace_back(0x10000, RandomBytes(random, 16));
    records.emplace_back(0x2FFF0, RandomBytes(random, 32));
    const QString path = FDir.filePath(QStringLiteral("gaps.hex"));
    QVERIFY(WriteIntelHexFile(path, records));

    TSimServer server(Config());
    QVERIFY(Started(server));
    const TCliRun program = Cli(OnBoard(server, {"program", path}));
    QVERIFY2(program.Exit == 0, qPrintable(program.Err + program.Out.join('\n')));
    QCOMPARE(program.Out.last(), QStringLiteral("Program OK!"));
    QString why;
    QVERIFY2(BoardHolds(server, ImageOf(records), why), qPrintable(why));

    const TCliRun verify = Cli(OnBoard(server, {"verify", path}));
    QCOMPARE(verify.Exit, 0);
    QCOMPARE(verify.Out.last(), QStringLiteral("Compare OK!"));
}

void TestCliSim::binaryImages_data() {
    QTest::addColumn<bool>("header");
    QTest::newRow("with size header") << true;
    QTest::newRow("without size header") << false;
}

void TestCliSim::binaryImages() {
    QFETCH(bool, header);
    QRandomGenerator random(7);
    const QByteArray file = RandomBytes(random, 1234);
    const QString path = FDir.filePath(QStringLiteral("image.rbf"));
    QVERIFY(WriteFile(path, file));

    TSimServer server(Config());
    QVERIFY(Started(server));
    const QStringList options{"--start-address", "2000", header ? "--size-header" : "--no-size-header"};
    const TCliRun program = Cli(OnBoard(server, QStringList{"program", path} + options));
    QVERIFY2(program.Exit == 0, qPrintable(program.Err + program.Out.join('\n')));
    QByteArray expected = file;
    if (header)
        expected.prepend(QByteArray("\xD2\x04\x00\x00", 4));
    QString why;
    QVERIFY2(BoardHolds(server, ImageOf({{0x2000, expected}}), why), qPrintable(why));
    const TCliRun verify = Cli(OnBoard(server, QStringList{"verify", path} + options));
    QCOMPARE(verify.Out.last(), QStringLiteral("Compare OK!"));
}

void TestCliSim::droppedAnswersAreRetried() {
    QRandomGenerator random(3);
    const std::vector<std::pair<std::uint32_t, QByteArray>> records{{0, RandomBytes(random, 2000)}};
    const QString path = FDir.filePath(QStringLiteral("drop.bin"));
    QVERIFY(WriteFile(path, records[0].second));

    TSimServer server(Config({{fkDrop, 3}}));
    QVERIFY(Started(server));
    const TCliRun program = Cli(OnBoard(server, {"program", path, "--no-size-header"}));
    QVERIFY2(program.Exit == 0, qPrintable(program.Err + program.Out.join('\n')));
    QCOMPARE(program.Out.last(), QStringLiteral("Program OK!"));
    QString why;
    QVERIFY2(BoardHolds(server, ImageOf(records), why), qPrintable(why));
}

void TestCliSim::faultKinds_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("exit"); // of program and of verify
    QTest::addColumn<QString>("last");
    QTest::newRow("garbled answers are retried") << int(fkGarble) << 4 << 0 << "Program OK!";
    QTest::newRow("noise before the first answer") << int(fkNoise) << 0 << 0 << "Program OK!";
    QTest::newRow("board falls silent") << int(fkSilentAfter) << 6 << 3 << "Program operation canceled";
    QTest::newRow("board hangs up") << int(fkHangupAfter) << 8 << 3 << "Program operation canceled";
}

void TestCliSim::faultKinds() {
    QFETCH(int, kind);
    QFETCH(int, value);
    QFETCH(int, exit);
    QFETCH(QString, last);
    QRandomGenerator random(11);
    const QByteArray bytes = RandomBytes(random, 3000);
    const QString path = FDir.filePath(QStringLiteral("fault.bin"));
    QVERIFY(WriteFile(path, bytes));
    TSimServer server(Config({{TSimFaultKind(kind), std::uint32_t(value)}}));
    QVERIFY(Started(server));
    const TCliRun program = Cli(OnBoard(server, {"program", path, "--no-size-header", "--retries", "1"}));
    QCOMPARE(program.Exit, exit);
    QCOMPARE(OutcomeLine(program.Out, server), last);
    QString why;
    QCOMPARE(BoardHolds(server, ImageOf({{0, bytes}}), why), exit == 0);
    // Each command waits at most 5 s, and is sent at most twice with one retry.
    QVERIFY2(program.Milliseconds < 3 * 5000 + 5000, qPrintable(QString::number(program.Milliseconds)));
}

void TestCliSim::mismatchIsReported() {
    QRandomGenerator random(5);
    const QByteArray bytes = RandomBytes(random, 600);
    const QString path = FDir.filePath(QStringLiteral("mismatch.hex"));
    std::vector<std::pair<std::uint32_t, QByteArray>> records{{0x100, bytes.left(16)},
                                                              {0x110, bytes.mid(16, 16)}};
    for (int offset = 32; offset < bytes.size(); offset += 16)
        records.emplace_back(0x300 + std::uint32_t(offset - 32), bytes.mid(offset, 16));
    QVERIFY(WriteIntelHexFile(path, records));
    TSimServer server(Config({{fkMismatch, 0x345}}));
    QVERIFY(Started(server));
    QCOMPARE(Cli(OnBoard(server, {"program", path})).Exit, 0);
    const TCliRun verify = Cli(OnBoard(server, {"verify", path}));
    QCOMPARE(verify.Exit, 1);
    const std::uint8_t wanted = std::uint8_t(bytes[32 + 0x45]);
    const auto hex2 = [](std::uint8_t v) { return QString::number(v, 16).toUpper().rightJustified(2, u'0'); };
    const QString text = QStringLiteral("Compare error at address 0x000345.\nExpected: 0x%1.\nActual: 0x%2.")
                             .arg(hex2(wanted), hex2(std::uint8_t(~wanted)));
    QCOMPARE(verify.Out.mid(verify.Out.size() - 3).join('\n'), text);
}

void TestCliSim::lowRateNeedsNoRetry() {
    // At 600 baud a full block and its answer take 14 s on the line, far more than the 5000 ms a
    // command waits at high rates: a correct board must still succeed without a single time-out.
    QRandomGenerator random(3);
    const QByteArray bytes = RandomBytes(random, 200);
    const QString path = FDir.filePath(QStringLiteral("slow-line.bin"));
    QVERIFY(WriteFile(path, bytes));
    TSimServer server(Config(), 600);
    QVERIFY(Started(server));
    const TCliRun run =
        Cli(OnBoard(server, {"--baud", "600", "--retries", "0", "program", path, "--no-size-header"}));
    QVERIFY2(run.Exit == 0, qPrintable(run.Err + run.Out.join('\n')));
    QCOMPARE(server.Stats().Commands, std::uint64_t(5)); // ping, "P ID", "P INIT", one block, closing ping
}

void TestCliSim::misbehavingBoards_data() {
    // A 1000-byte binary image without size header at 0: every run is ping, "P ID", "P INIT" or
    // "P RESET", then five blocks of 200 bytes (commands 4 to 8).
    QTest::addColumn<QStringList>("boardFaults"); // from power-up, as tervolt-sim --fault takes them
    QTest::addColumn<QStringList>("runFaults");   // added before the run; late:N counts from its start
    QTest::addColumn<QStringList>("results");     // as tervolt-sim --result takes them
    QTest::addColumn<bool>("echo");
    QTest::addColumn<bool>("verify");      // verify a programmed board, else program a blank one
    QTest::addColumn<QList<int>>("exits"); // the first unless the line's timing decides
    QTest::addColumn<QString>("last");     // the outcome, or a line of it (standard output or error)

    for (const bool echo : {true, false}) {
        const char* const board = echo ? "echo" : "no echo";
        // An answer that comes after its command's time-out settles that command only.
        QTest::addRow("%s: late answer to the last VERIFY, mismatch there", board)
            << QStringList{"mismatch:0x3E0"} << QStringList{"late:8:5500"} << QStringList{} << echo << true
            << QList<int>{1} << "Compare error at address 0x0003E0.";
        QTest::addRow("%s: late P INIT (slow chip erase)", board)
            << QStringList{} << QStringList{"late:3:6500"} << QStringList{} << echo << false << QList<int>{0}
            << "Program OK!";
        QTest::addRow("%s: late answer to a PROG block", board)
            << QStringList{} << QStringList{"late:5:5500"} << QStringList{} << echo << false << QList<int>{0}
            << "Program OK!";
    }
    // Slower than every time-out: an honest failure, never a success for unconfirmed blocks.
    QTest::newRow("answers every command 5.1 s late")
        << QStringList{"slow:5100", "mismatch:0x3E0"} << QStringList{} << QStringList{} << true << true
        << QList<int>{3} << "No target";
    // A '>' that closes nothing stays in the answer; control bytes fail the identification.
    QTest::newRow("PROG answered Do>ne") << QStringList{} << QStringList{} << QStringList{"PROG=Do>ne"}
                                         << true << false << QList<int>{3} << "Program operation canceled";
    QTest::newRow("VERIFY answered Compare O>K")
        << QStringList{} << QStringList{} << QStringList{"VERIFY=Compare O>K"} << true << true
        << QList<int>{3} << "Verify operation canceled";
    QTest::newRow("> inside the device id")
        << QStringList{} << QStringList{} << QStringList{"ID=DeviceID: VF0>40B Manufacturer: VELUM"} << true
        << false << QList<int>{4} << "";
    QTest::newRow("NUL inside the manufacturer")
        << QStringList{} << QStringList{} << QStringList{"ID=DeviceID: VF040B Manufacturer: VELUM\\0EVIL"}
        << true << false << QList<int>{4} << "";
    // Endless text without a prompt after "P INIT": the command fails and memory stays flat.
    QTest::newRow("flood after P INIT")
        << QStringList{"flood:3"} << QStringList{} << QStringList{} << true << false << QList<int>{3}
        << "The board sent more than 4096 bytes without ending its answer.";

    // Every reply is accounted for: a wrong byte in a Verify run never ends "Compare OK!", whatever
    // the board sends around its answers. Block 4 is the run's command 7; 0x2A0 lies in it.
    const QString flood =
        "Compare OK\\r\\n>" + QStringLiteral("\\r\\nCompare OK\\r\\n>").repeated(30) + "\\r\\nCompare OK";
    QTest::newRow("echo: a bare Compare OK in front of the echoed error")
        << QStringList{"mismatch:0x2A0"} << QStringList{"bare:7"} << QStringList{} << true << true
        << QList<int>{1} << "Compare error at address 0x0002A0.";
    QTest::newRow("no echo: a bare Compare OK in front of the error")
        << QStringList{"mismatch:0x2A0"} << QStringList{"bare:7"} << QStringList{} << false << true
        << QList<int>{3, 1} << "";
    QTest::newRow("echo: block answered with the echo of a block not sent")
        << QStringList{"mismatch:0x2A0"} << QStringList{"echo-ahead:7"} << QStringList{} << true << true
        << QList<int>{1} << "Compare error at address 0x0002A0.";
    QTest::newRow("no echo: answer duplicated 20 ms later, wrong byte in the next block")
        << QStringList{"mismatch:0x1F4"} << QStringList{"dup:5:20"} << QStringList{} << false << true
        << QList<int>{3, 1} << "";
    QTest::newRow("no echo: answer duplicated 300 ms later, wrong byte in the last block")
        << QStringList{"mismatch:0x3E0"} << QStringList{"dup:7:300"} << QStringList{} << false << true
        << QList<int>{1} << "Compare error at address 0x0003E0.";
    QTest::newRow("echo: answer duplicated")
        << QStringList{} << QStringList{"dup:6:5"} << QStringList{} << true << false << QList<int>{3}
        << "The board sent an answer that no command was waiting for";
    // A mismatch the board reported anywhere is a mismatch, even in an answer no command took.
    QTest::newRow("echo: Compare OK, then the echoed error for the same block")
        << QStringList{"mismatch:0x2A0"} << QStringList{"extra:7:Compare OK"} << QStringList{} << true << true
        << QList<int>{1} << "Compare error at address 0x0002A0.";
    QTest::newRow("no echo: Compare OK, then the error for the same block")
        << QStringList{"mismatch:0x2A0"} << QStringList{"extra:7:Compare OK"} << QStringList{} << false
        << true << QList<int>{3, 1} << "";
    for (const bool echo : {true, false}) {
        QTest::addRow("%s: a flood of bare Compare OK after block 2", echo ? "echo" : "no echo")
            << QStringList{"mismatch:0x2A0"} << QStringList{"extra:5:" + flood} << QStringList{} << echo
            << true << QList<int>{3} << "Communication failure!";
    }
    // Messages that say what happened.
    QTest::newRow("empty replies during identification")
        << QStringList{"extra:2:" + QStringLiteral("\\r\\n>").repeated(40)} << QStringList{} << QStringList{}
        << true << false << QList<int>{3} << "Communication failure! The board sent";
    QTest::newRow("hang-up after a block")
        << QStringList{"hangup-after:5"} << QStringList{} << QStringList{} << true << false << QList<int>{3}
        << "Communication failure! The device hung up. The line was lost.";
}

void TestCliSim::misbehavingBoards() {
    QFETCH(QStringList, boardFaults);
    QFETCH(QStringList, runFaults);
    QFETCH(QStringList, results);
    QFETCH(bool, echo);
    QFETCH(bool, verify);
    QFETCH(QList<int>, exits);
    QFETCH(QString, last);
    const int exit = exits.first();
    const auto parseFaults = [](const QStringList& texts) {
        std::vector<TSimFault> faults;
        for (const QString& text : texts) {
            std::string error;
            const auto fault = ParseSimFault(text.toStdString(), error);
            if (!fault)
                qFatal("%s", error.c_str());
            faults.push_back(*fault);
        }
        return faults;
    };
    TSimConfig config = Config(parseFaults(boardFaults));
    config.Echo = echo;
    for (const QString& text : results) {
        std::string error;
        std::pair<std::string, std::string> result;
        QVERIFY2(ParseSimResult(text.toStdString(), result, error), error.c_str());
        config.Results.push_back(result);
    }
    QRandomGenerator random(5);
    const QByteArray bytes = RandomBytes(random, 1000);
    const QString path = FDir.filePath(QStringLiteral("misbehaving.bin"));
    QVERIFY(WriteFile(path, bytes));
    const TImage image = ImageOf({{0, bytes}});
    TSimServer server(config);
    QVERIFY(Started(server));
    const QStringList options{"--no-size-header", "--retries", "3"};
    // A board slower than every time-out cannot be programmed first.
    if (verify && boardFaults.filter(QStringLiteral("slow:")).isEmpty()) {
        const TCliRun program = Cli(OnBoard(server, QStringList{"program", path} + options));
        QCOMPARE(program.Exit, 0);
    }
    for (const TSimFault& fault : parseFaults(runFaults))
        server.AddFault(fault);

    const TCliRun run = Cli(OnBoard(server, QStringList{verify ? "verify" : "program", path} + options));
    QVERIFY2(exits.contains(run.Exit), qPrintable(run.Err + run.Out.join('\n')));
    if (!last.isEmpty() && run.Exit == exit)
        QVERIFY2((run.Out.join('\n') + '\n' + run.Err).contains(last),
                 qPrintable(run.Err + run.Out.join('\n')));
    // A retry is claimed only where one was made: never after a hang-up.
    if (last.contains(QStringLiteral("hung up")))
        QVERIFY2(!run.Err.contains(QStringLiteral("retr")), qPrintable(run.Err));
    if (exit == 0) {
        QString why;
        QVERIFY2(BoardHolds(server, image, why), qPrintable(why));
        const TCliRun check = Cli(OnBoard(server, QStringList{"verify", path} + options));
        QCOMPARE(check.Out.last(), QStringLiteral("Compare OK!"));
    }
    // No answer kept beyond its bound: the flood must not show in the largest child's memory.
    rusage usage{};
    QCOMPARE(getrusage(RUSAGE_CHILDREN, &usage), 0);
    QVERIFY2(!kResidentSizeIsMeaningful || usage.ru_maxrss < 200 * 1024,
             qPrintable(QString::number(usage.ru_maxrss)));
}

void TestCliSim::unlistedChip() {
    TSimConfig config;
    config.DeviceId = "vf040b"; // differs from the list only in case
    TSimServer server(config);
    QVERIFY(Started(server));
    const QString path = FDir.filePath(QStringLiteral("any.hex"));
    QVERIFY(WriteIntelHexFile(path, {{0, QByteArray(16, 'x')}}));
    const TCliRun program = Cli(OnBoard(server, {"program", path}));
    QCOMPARE(program.Exit, 4);
    QCOMPARE(program.Out.last(), QStringLiteral("FLASH not identified."));
    const TCliRun identify = Cli(OnBoard(server, {"identify"}));
    QCOMPARE(identify.Exit, 4);
    QVERIFY(identify.Out.contains(QStringLiteral("Device ID: vf040b")));
    QVERIFY(identify.Out.contains(QStringLiteral("Manufacturer: VELUM")));
    QCOMPARE(server.Snapshot().Programmed, std::vector<bool>(server.Snapshot().Programmed.size(), false));
}

void TestCliSim::malformedImageSendsNothing() {
    TSimServer server(Config());
    QVERIFY(Started(server));
    const QString path = FDir.filePath(QStringLiteral("bad.hex"));
    QVERIFY(WriteFile(path, ":1000000000\n"));
    const TCliRun program = Cli(OnBoard(server, {"program", path}));
    QCOMPARE(program.Exit, 2);
    QCOMPARE(program.Out.last(), QStringLiteral("Illegal record in file."));
    QCOMPARE(server.Stats().Commands, 0u);
}

void TestCliSim::missingPort() {
    const TCliRun run = Cli({"--port", "/dev/tervolt-no-such-port", "ping"});
    QCOMPARE(run.Exit, 3);
    QVERIFY2(run.Err.contains(QStringLiteral("No such file or directory")), qPrintable(run.Err));
    // Stored values out of range keep the defaults (COM2 here), as in the window, and say so.
    QVERIFY(QDir(FHome.path()).mkpath(QStringLiteral("VELUM")));
    QVERIFY(WriteFile(QDir(FHome.path()).filePath(QStringLiteral("VELUM/Tervolt.conf")),
                      "[ComSettings]\nCOMPort=259\nBaudRate=263\n[Ports]\nCOM2=/dev/tervolt-no-such-com2\n"));
    const TCliRun stored = Cli({"ping"});
    // The port from the settings is named as the user knows it, not as the system opens it.
    const TCliRun json = Cli({"ping", "--json"});
    QFile::remove(QDir(FHome.path()).filePath(QStringLiteral("VELUM/Tervolt.conf")));
    const QJsonObject board = QJsonDocument::fromJson(json.Out.join('\n').toUtf8())
                                  .object()
                                  .value("boards")
                                  .toArray()
                                  .at(0)
                                  .toObject();
    QCOMPARE(board.value("port").toString(), QStringLiteral("COM2"));
    QCOMPARE(stored.Exit, 3);
    QVERIFY2(
        stored.Err.contains(QStringLiteral("COMPort=259 is out of range (1 to 256); the default is kept")) &&
            stored.Err.contains(QStringLiteral("BaudRate=263 is out of range")) &&
            stored.Err.contains(QStringLiteral("/dev/tervolt-no-such-com2")),
        qPrintable(stored.Err));
}

// A block the board refuses is repeated, then the run gives up naming the board's own answer.
void TestCliSim::refusedBlockIsNamed() {
    TSimConfig config;
    config.Size = 4096;
    TSimServer server(config);
    QVERIFY(Started(server));
    const QString path = FDir.filePath(QStringLiteral("beyond.rbf"));
    QVERIFY(WriteFile(path, QByteArray(16, 'x')));
    const TCliRun program =
        Cli(OnBoard(server, {"program", path, "--start-address", "10000", "--retries", "1"}));
    QCOMPARE(program.Exit, 3);
    QVERIFY2(program.Err.contains(
                 QStringLiteral("Gave up after 1 retry. The board answered: Address out of range")),
             qPrintable(program.Err));
}

void TestCliSim::interruptStopsBetweenBlocks_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("silent");     // the board stops answering: the signal comes during a wait
    QTest::addColumn<bool>("stuckTrace"); // the trace goes to a pipe whose reader never reads
    QTest::newRow("SIGTERM") << int(SIGTERM) << false << false;
    // A closed terminal: the port's settings and lock must be given back as after Ctrl-C.
    QTest::newRow("SIGHUP") << int(SIGHUP) << false << false;
    // At 20 baud "P INIT" waits about 48 s for its answer; Ctrl-C must not wait with it.
    QTest::newRow("SIGINT while a silent board is waited for") << int(SIGINT) << true << false;
    // A trace nobody reads costs trace lines, never the interrupt.
    QTest::newRow("SIGINT while the trace's reader has stopped") << int(SIGINT) << false << true;
}

void TestCliSim::interruptStopsBetweenBlocks() {
    QFETCH(int, signal);
    QFETCH(bool, silent);
    QFETCH(bool, stuckTrace);
    QRandomGenerator random(13);
    const QString path = FDir.filePath(QStringLiteral("interrupt.bin"));
    QVERIFY(WriteFile(path, RandomBytes(random, 64 * 1024)));
    // Paced, so that the run lasts long enough to interrupt; or silent from "P INIT" on.
    const std::uint32_t answered = silent ? 2 : 6; // ping, P ID (and P INIT, three blocks)
    TSimServer server(silent ? Config({{fkSilentAfter, answered}}) : Config(), silent ? 0 : 115200);
    QVERIFY(Started(server));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), FHome.path());
    process.setProcessEnvironment(env);
    QStringList args = OnBoard(server, {"program", path});
    if (silent)
        args << "--baud"
             << "20";
    QTemporaryDir traceDir;
    int traceReader = -1;
    if (stuckTrace) {
        const QString pipe = traceDir.filePath(QStringLiteral("stuck.pipe"));
        QVERIFY(mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        traceReader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(traceReader >= 0);
        args << "--trace" << pipe;
    }
    const auto closeReader = qScopeGuard([traceReader] {
        if (traceReader >= 0)
            ::close(traceReader);
    });
    process.start(QStringLiteral(TERVOLT_BIN_DIR "/tervolt-cli"), args);
    QVERIFY(process.waitForStarted());
    // Interrupt once a few blocks have been programmed, or once the unanswered command is out.
    QTRY_VERIFY_WITH_TIMEOUT(server.Stats().Commands >= answered - 1 + (silent ? 2 : 0), 20000);
    ::kill(pid_t(process.processId()), signal); // handled like Ctrl-C
    // Far below the silent command's time-out: only a wait that ignores the signal runs into it.
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 5);
    const QStringList lines =
        QString::fromLocal8Bit(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(OutcomeLine(lines, server), QStringLiteral("Program operation canceled"));
    const QString said = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(!silent || said.contains(QStringLiteral("Interrupted while waiting for the board's answer.")),
             qPrintable(said));
    const TFlashSnapshot snapshot = server.Snapshot();
    const auto programmed = std::count(snapshot.Programmed.begin(), snapshot.Programmed.end(), true);
    QVERIFY(silent ? programmed == 0 : programmed > 0 && programmed < 64 * 1024);
    // The port was given back: another run opens it (and, the board being silent or not, pings it).
    const TCliRun again = Cli(OnBoard(server, {"ping"}));
    QVERIFY2(!again.Err.contains(QStringLiteral("in use")), qPrintable(again.Err));
}

void TestCliSim::runInputs_data() {
    // $IMAGE, $PORT, $OTHER (another board's line), $SETTINGS, $DEVICES, $TRACE, $PIPE (read by the
    // test) and $LONEPIPE (read by nobody) stand for paths the test makes.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("runs");      // the same command, one run after the other
    QTest::addColumn<QString>("limit"); // `ulimit -f` blocks for the run, or empty
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("last"); // the last line on standard output
    QTest::addColumn<QString>("errHas");
    // --trace never overwrites what the run reads or talks to, nor any device.
    QTest::newRow("trace is the image")
        << QStringList{"program", "$IMAGE", "--trace", "$IMAGE"} << 1 << "" << 64 << ""
        << "--trace $IMAGE is the image file";
    QTest::newRow("trace is the device list")
        << QStringList{"identify", "--devices", "$DEVICES", "--trace", "$DEVICES"} << 1 << "" << 64 << ""
        << "is the device list";
    QTest::newRow("trace is the settings file")
        << QStringList{"ping", "--trace", "$SETTINGS"} << 1 << "" << 64 << ""
        << "is the settings file";
    QTest::newRow("trace is the per-user device list")
        << QStringList{"ping", "--trace", "$USERDEVICES"} << 1 << "" << 64 << ""
        << "is the per-user device list";
    // Not there yet: the trace would create it, full of trace text, for the next start to read.
    QTest::newRow("trace is the settings file, not there yet")
        << QStringList{"ping", "--trace", "$NOSETTINGS"} << 1 << "" << 64 << ""
        << "is the settings file";
    QTest::newRow("trace is the board's port")
        << QStringList{"ping", "--trace", "$PORT"} << 1 << "" << 64 << ""
        << "is a port of this run";
    QTest::newRow("trace is another board's line")
        << QStringList{"ping", "--trace", "$OTHER"} << 1 << "" << 64 << ""
        << "not a regular file (a device)";
    QTest::newRow("trace is /dev/null") << QStringList{"ping", "--trace", "/dev/null"} << 1 << "" << 64 << ""
                                        << "not a regular file (a device)";
    QTest::newRow("trace to a named pipe nobody reads")
        << QStringList{"ping", "--trace", "$LONEPIPE"} << 1 << "" << 64 << ""
        << "a named pipe that nobody reads";
    // What it takes: a named pipe that is read, standard error, a file that runs append to.
    QTest::newRow("trace to a named pipe")
        << QStringList{"ping", "--trace", "$PIPE"} << 1 << "" << 0 << "Target found"
        << "";
    QTest::newRow("trace to standard error")
        << QStringList{"ping", "--trace", "-"} << 1 << "" << 0 << "Target found"
        << "  >  \\r\n";
    QTest::newRow("two runs append to one trace")
        << QStringList{"ping", "--trace", "$TRACE"} << 2 << "" << 0 << "Target found"
        << "";
    // A trace that cannot be written fails the run after the board's outcome; a file-size limit is
    // such a failure, not the end of the program.
    QTest::newRow("trace past the file-size limit")
        << QStringList{"program", "$IMAGE", "--trace", "$TRACE"} << 1 << "1" << 3 << "Program OK!"
        << "File too large";
    // A device list that is not there is a file error of its own, not an unlisted chip.
    QTest::newRow("device list missing") << QStringList{"identify", "--devices", "$DEVICES.gone"} << 1 << ""
                                         << 6 << "Can't load \"devices.tervolt.gone\""
                                         << "No such file or directory";
}

// A named pipe whose reader stops reading: the trace loses its last lines, never the run.
void TestCliSim::traceReaderThatStops() {
    TSimServer board(Config());
    QVERIFY(Started(board));
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("image.bin"));
    QByteArray bytes(64 * 1024, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + (i >> 8));
    QVERIFY(WriteFile(image, bytes));
    const QString pipe = dir.filePath(QStringLiteral("stuck.pipe"));
    QVERIFY(mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    // Opened for reading, never read: the pipe fills after 64 KiB of trace.
    const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    const TCliRun run = Cli(OnBoard(board, {"program", image, "--no-size-header", "--trace", pipe}));
    ::close(reader);
    QVERIFY2(run.Exit == 0 && run.Out.last() == QStringLiteral("Program OK!"), qPrintable(run.Err));
    QVERIFY2(run.Err.contains(QStringLiteral("its reader stopped reading")), qPrintable(run.Err));
    QString why;
    QVERIFY2(BoardHolds(board, ImageOf({{0, bytes}}), why), qPrintable(why));
}

// Two runs appending to one trace at once: every line is whole, a header or a line of one run.
void TestCliSim::tracesOfTwoRunsStayWhole() {
    TSimServer first(Config());
    TSimServer second(Config());
    QVERIFY(Started(first) && Started(second));
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("image.bin"));
    QVERIFY(WriteFile(image, QByteArray(32 * 1024, '\x3C')));
    const QString trace = dir.filePath(QStringLiteral("shared.trace"));
    QProcess runs[2];
    const TSimServer* boards[2] = {&first, &second};
    for (int i = 0; i < 2; ++i)
        runs[i].start(CliProgram(),
                      OnBoard(*boards[i], {"program", image, "--no-size-header", "--trace", trace}));
    for (QProcess& run : runs)
        QVERIFY(run.waitForFinished(60000) && run.exitCode() == 0);
    QFile file(trace);
    QVERIFY(file.open(QIODevice::ReadOnly));
    static const QRegularExpression whole(QStringLiteral("^(# .*|\\s*\\d+\\.\\d{3}  \\S+  [<>#]  .*)$"));
    int lines = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        ++lines;
        QVERIFY2(whole.match(QString::fromLatin1(line)).hasMatch(), line.left(120).constData());
    }
    QVERIFY(lines > 100);
}

void TestCliSim::runInputs() {
    QFETCH(QStringList, args);
    QFETCH(int, runs);
    QFETCH(QString, limit);
    QFETCH(int, exit);
    QFETCH(QString, last);
    QFETCH(QString, errHas);
    TSimServer board(Config());
    TSimServer other(Config());
    QVERIFY(Started(board) && Started(other));
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("image.bin"));
    QVERIFY(WriteFile(image, QByteArray(8 * 1024, '\x5A')));
    const QString devices = dir.filePath(QStringLiteral("devices.tervolt"));
    QVERIFY(QFile::copy(QStringLiteral(TERVOLT_BIN_DIR "/devices.tervolt"), devices));
    const QString settings = QDir(FHome.path()).filePath(QStringLiteral("VELUM/Tervolt.conf"));
    QVERIFY(QDir(FHome.path()).mkpath(QStringLiteral("VELUM")) && WriteFile(settings, "[ComSettings]\n"));
    const QString userDevices =
        QDir(FHome.path()).filePath(QStringLiteral(".local/share/tervolt/devices.tervolt"));
    if (args.contains(QStringLiteral("$USERDEVICES")))
        QVERIFY(QDir(FHome.path()).mkpath(QStringLiteral(".local/share/tervolt")) &&
                QFile::copy(devices, userDevices));
    if (args.contains(QStringLiteral("$NOSETTINGS")))
        QVERIFY(QFile::remove(settings));
    const QString trace = dir.filePath(QStringLiteral("run.trace"));
    const QString pipe = dir.filePath(QStringLiteral("trace.pipe"));
    QVERIFY(mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    const QString lonePipe = dir.filePath(QStringLiteral("unread.pipe"));
    QVERIFY(mkfifo(QFile::encodeName(lonePipe).constData(), 0600) == 0);
    const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    const QList<std::pair<QString, QString>> names{{"$IMAGE", image},
                                                   {"$PORT", QString::fromStdString(board.SlavePath())},
                                                   {"$OTHER", QString::fromStdString(other.SlavePath())},
                                                   {"$SETTINGS", settings},
                                                   {"$NOSETTINGS", settings},
                                                   {"$USERDEVICES", userDevices},
                                                   {"$DEVICES", devices},
                                                   {"$TRACE", trace},
                                                   {"$PIPE", pipe},
                                                   {"$LONEPIPE", lonePipe}};
    for (QString& arg : args)
        for (const auto& [name, path] : names)
            arg.replace(name, path);
    for (const auto& [name, path] : names)
        errHas.replace(name, path);
    TCliRun run;
    for (int i = 0; i < runs; ++i) {
        if (limit.isEmpty()) {
            run = Cli(OnBoard(board, args));
            continue;
        }
        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), FHome.path());
        shell.setProcessEnvironment(env);
        shell.start(QStringLiteral("/bin/sh"),
                    QStringList{"-c", "ulimit -f " + limit + "; exec \"$0\" \"$@\"", CliProgram()} +
                        OnBoard(board, args));
        QVERIFY(shell.waitForFinished(60000));
        run.Exit = shell.exitStatus() == QProcess::NormalExit ? shell.exitCode() : -1;
        run.Out = QString::fromLocal8Bit(shell.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        run.Err = QString::fromLocal8Bit(shell.readAllStandardError());
    }
    QByteArray piped(64 * 1024, '\0');
    const ssize_t pipedBytes = ::read(reader, piped.data(), size_t(piped.size()));
    ::close(reader);
    QFile::remove(settings);
    QFile::remove(userDevices);
    QCOMPARE(run.Exit, exit);
    QCOMPARE(run.Out.value(run.Out.size() - 1), last);
    QVERIFY2(run.Err.contains(errHas), qPrintable(run.Err));
    QCOMPARE(QFileInfo(image).size(), 8 * 1024); // nothing the run reads was written to
    QCOMPARE(QFileInfo(devices).size(), QFileInfo(QStringLiteral(TERVOLT_BIN_DIR "/devices.tervolt")).size());
    if (args.contains(pipe))
        QVERIFY2(pipedBytes > 0 && piped.startsWith("# tervolt-cli "), piped.left(200).constData());
    if (args.contains(trace) && exit == 0) {
        QFile file(trace);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count("\n# tervolt-cli ") + 1,
                 runs); // one header a run, the first at the top
    }
}

// The program as the demo runs it: tervolt-sim on its own, its --dump read back by the image reader.
void TestCliSim::simulatorDumpEqualsTheImage() {
    QRandomGenerator random(17);
    std::vector<std::pair<std::uint32_t, QByteArray>> records;
    for (std::uint32_t address = 0x100; address < 0x3000; address += 0x40)
        records.emplace_back(address, RandomBytes(random, 0x20));
    records.emplace_back(0x10000, RandomBytes(random, 16));
    const QString image = FDir.filePath(QStringLiteral("dumped.hex"));
    QVERIFY(WriteIntelHexFile(image, records));
    const QString dump = FDir.filePath(QStringLiteral("dump.hex"));

    QProcess sim;
    sim.start(QStringLiteral(TERVOLT_BIN_DIR "/tervolt-sim"), {"--dump", dump});
    QVERIFY(sim.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
    const QString slave = QString::fromLocal8Bit(sim.readLine()).trimmed();
    const TCliRun program = Cli({"--port", slave, "--quiet", "program", image});
    QCOMPARE(program.Exit, 0);
    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 0);

    TIntelExtendedHexFile reader;
    QCOMPARE(int(reader.Open(dump, hmVerify, false)), int(hrOK));
    TImage dumped;
    std::uint8_t buffer[200];
    std::uint32_t address = 0;
    std::uint16_t length = 0;
    THexResult result = hrOK;
    while ((result = reader.ReadBlock(address, buffer, length, 200)) == hrOK)
        for (std::uint16_t i = 0; i < length; ++i)
            dumped[address + i] = buffer[i];
    QCOMPARE(int(result), int(hrEndOfFile));
    QVERIFY(dumped == ImageOf(records));
}

// Runs a tool of the machine's toolchain; false (with its error output) when it failed.
bool RunTool(const QString& program, const QStringList& args, QString& error) {
    QProcess tool;
    tool.start(QStandardPaths::findExecutable(program), args);
    if (tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0)
        return true;
    error = program + QStringLiteral(": ") + QString::fromLocal8Bit(tool.readAllStandardError());
    return false;
}

void TestCliSim::imageFormatsOnTheBoard_data() {
    QTest::addColumn<QString>("kind");    // srec_cat's output format, "elf", or "hex" as written here
    QTest::addColumn<quint32>("address"); // of the data
    QTest::addColumn<int>("boards");
    QTest::addColumn<bool>("rewritten"); // the file is rewritten in place while the first board is sent
    QTest::newRow("S-record S1") << "-motorola=2" << 0x1000u << 1 << false;
    QTest::newRow("S-record S2") << "-motorola=3" << 0x21000u << 1 << false;
    QTest::newRow("S-record S3") << "-motorola=4" << 0x301000u << 1 << false;
    QTest::newRow("Intel HEX with 04/05 above 1 MiB") << "-intel" << 0x1FFF00u << 1 << false;
    QTest::newRow("ELF with .bss") << "elf" << 0x2000u << 1 << false;
    QTest::newRow("three boards send the same bytes") << "-motorola=4" << 0x301000u << 3 << true;
    QTest::newRow("Intel HEX rewritten in place") << "hex" << 0x100u << 1 << true;
}

// program and verify with no --format; the boards must hold the data and nothing else (no .bss).
void TestCliSim::imageFormatsOnTheBoard() {
    QFETCH(QString, kind);
    QFETCH(quint32, address);
    QFETCH(int, boards);
    QFETCH(bool, rewritten);
    const QString tool = kind == "elf" ? QStringLiteral("ld") : QStringLiteral("srec_cat");
    if (kind != "hex" && QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP(qPrintable(tool + QStringLiteral(" is not installed")));
    QRandomGenerator random(address);
    const QByteArray data = RandomBytes(random, kind == "hex" ? 60000 : 5000);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-').replace(u'/', u'-');
    const QString raw = FDir.filePath(tag + QStringLiteral(".raw"));
    const QString image = FDir.filePath(tag + QStringLiteral(".img"));
    QVERIFY(WriteFile(raw, data));
    QString error;
    if (kind == "hex") {
        std::vector<std::pair<std::uint32_t, QByteArray>> records;
        for (int at = 0; at < data.size(); at += 32)
            records.emplace_back(address + std::uint32_t(at), data.mid(at, 32));
        QVERIFY(WriteIntelHexFile(image, records));
    } else if (kind == "elf") {
        // The data as a section of their own, then a .bss that must not be sent.
        const QString object = FDir.filePath(QStringLiteral("data.o"));
        const QString bss = FDir.filePath(QStringLiteral("bss.s"));
        const QString script = FDir.filePath(QStringLiteral("image.ld"));
        QVERIFY(WriteFile(bss, ".bss\n.space 4096\n"));
        QVERIFY(WriteFile(script, QStringLiteral("SECTIONS { .data 0x%1 : { *(.data) } .bss : { *(.bss) } "
                                                 "/DISCARD/ : { *(.note*) } }\n")
                                      .arg(address, 0, 16)
                                      .toLatin1()));
        QVERIFY2(RunTool("objcopy", {"-I", "binary", "-O", "elf64-x86-64", "-B", "i386:x86-64", raw, object},
                         error) &&
                     RunTool("as", {bss, "-o", bss + ".o"}, error) &&
                     RunTool("ld", {"-T", script, object, bss + ".o", "-o", image}, error),
                 qPrintable(error));
    } else {
        const QStringList output = kind.split(u'=');
        QStringList args{raw, "-binary", "-offset", QString::number(address), "-o", image, output[0]};
        if (output.size() > 1)
            args << QStringLiteral("-address-length=") + output[1];
        if (kind == "-intel")
            args << "-execution-start-address" << QString::number(address);
        QVERIFY2(RunTool("srec_cat", args, error), qPrintable(error));
    }

    std::vector<std::unique_ptr<TSimServer>> servers;
    QStringList ports;
    for (int i = 0; i < boards; ++i) {
        TSimConfig config = Config();
        if (address + data.size() > config.Size)
            config.Size = 4u << 20;
        // A slow first board leaves time to rewrite the file while it is sent (its 25 blocks take over a
        // second, however loaded the machine; the 300 of the HEX image, 5 ms each).
        if (rewritten && i == 0)
            config.Faults.push_back({fkSlow, 0, kind == "hex" ? 5u : 50u});
        servers.push_back(std::make_unique<TSimServer>(config));
        QVERIFY(Started(*servers.back()));
        ports << "--port" << QString::fromStdString(servers.back()->SlavePath());
    }
    // Once the first bytes are on the first board, the file gets other bytes of the same size.
    std::atomic<bool> done{false};
    std::atomic<bool> fired{false};
    std::thread rewriter;
    if (rewritten) {
        QFile file(image);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray other = file.readAll();
        for (char& c : other)
            c = c == 'A' ? 'B' : (c == 'B' ? 'A' : c); // hex digits still, but not the image
        rewriter = std::thread([&, other] {
            while (!done) {
                const TFlashSnapshot board = servers.front()->Snapshot();
                if (std::find(board.Programmed.begin(), board.Programmed.end(), true) !=
                    board.Programmed.end()) {
                    QFile changed(image);
                    fired = changed.open(QIODevice::ReadWrite) && changed.write(other) == other.size();
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    const TCliRun program = Cli(QStringList{"--quiet"} + ports + QStringList{"program", image});
    done = true;
    if (rewriter.joinable())
        rewriter.join();
    QCOMPARE(fired.load(), rewritten);
    QVERIFY2(program.Exit == 0, qPrintable(program.Err + program.Out.join('\n')));
    for (const auto& server : servers) {
        QString why;
        QVERIFY2(BoardHolds(*server, ImageOf({{address, data}}), why), qPrintable(why));
    }
    if (rewritten)
        return; // the file now holds another image
    const TCliRun verify = Cli(QStringList{"--quiet"} + ports + QStringList{"verify", image});
    QVERIFY2(verify.Exit == 0, qPrintable(verify.Err + verify.Out.join('\n')));
    QCOMPARE(verify.Out.last(), QStringLiteral("Compare OK!"));
}

QTEST_GUILESS_MAIN(TestCliSim)
#include "tst_cli_sim.moc"

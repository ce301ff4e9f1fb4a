// Several boards in one tervolt-cli run, end to end: the boards are served in-process on real
// pseudo-terminals, the program runs as a user runs it, and each board's FLASH is checked.

#include "sim/simserver.h"
#include "tests/support/clirun.h"
#include "tests/support/simboard.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

constexpr std::uint32_t kMismatchAddress = 0x345;

std::unique_ptr<TSimServer> StartBoard(std::vector<TSimFault> faults = {}, unsigned baud = 0) {
    TSimConfig config;
    config.Faults = std::move(faults);
    auto server = std::make_unique<TSimServer>(config, baud);
    if (!Started(*server))
        qFatal("no board to test with");
    return server;
}

QString PortOf(const TSimServer& server) {
    return QString::fromStdString(server.SlavePath());
}

} // namespace

class TestCliBoards : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;
    QTemporaryDir FHome;
    QByteArray FImage;
    QString FImagePath;

    TCliRun Cli(const QStringList& args) { return RunCli(args, FHome.path()); }

    void MapPorts(const QStringList& lines) {
        QVERIFY(QDir(FHome.path()).mkpath(QStringLiteral("VELUM")));
        QVERIFY(WriteFile(QDir(FHome.path()).filePath(QStringLiteral("VELUM/Tervolt.conf")),
                          ("[Ports]\n" + lines.join('\n') + '\n').toLocal8Bit()));
    }

private slots:
    void initTestCase();
    void productionLine_data();
    void productionLine();
    void programThenVerifyOneBoard();
    void autoPort();
    void interruptStopsEveryBoard();
};

void TestCliBoards::initTestCase() {
    QRandomGenerator random(21);
    FImage.resize(2000);
    for (char& c : FImage)
        c = char(random.bounded(256));
    FImagePath = FDir.filePath(QStringLiteral("line.bin"));
    QVERIFY(WriteFile(FImagePath, FImage));
}

void TestCliBoards::productionLine_data() {
    QTest::addColumn<bool>("json");
    QTest::newRow("summary table") << false;
    QTest::newRow("json") << true;
}

// Two good boards, one that reads back wrong, one unplugged while it is being programmed: the good
// ones hold the image, each board has its own outcome, and the run ends with the most serious.
void TestCliBoards::productionLine() {
    QFETCH(bool, json);
    std::vector<std::unique_ptr<TSimServer>> boards;
    boards.push_back(StartBoard());
    boards.push_back(StartBoard({{fkMismatch, kMismatchAddress}}));
    boards.push_back(StartBoard({{fkHangupAfter, 6}})); // ping, P ID, P INIT, three blocks
    boards.push_back(StartBoard({{fkDrop, 12}}));       // retried, and still good
    const QString trace = FDir.filePath(QStringLiteral("run.trace"));
    QStringList args{"--ports",          PortOf(*boards[0]) + ',' + PortOf(*boards[1]),
                     "--port",           PortOf(*boards[2]),
                     "--port",           PortOf(*boards[3]),
                     "program",          FImagePath,
                     "--no-size-header", "--verify",
                     "--retries",        "2",
                     "--trace",          trace};
    if (json)
        args << "--json";
    const TCliRun run = Cli(args);
    const QString why = run.Out.join('\n') + '\n' + run.Err;
    QVERIFY2(run.Exit == 3, qPrintable(why)); // communication outranks a compare error
    QString held;
    QVERIFY2(BoardHolds(*boards[0], ImageOf({{0, FImage}}), held), qPrintable(held));
    QVERIFY2(BoardHolds(*boards[3], ImageOf({{0, FImage}}), held), qPrintable(held));
    const std::uint8_t wanted = std::uint8_t(FImage[kMismatchAddress]);
    const auto hex2 = [](std::uint8_t v) { return QString::number(v, 16).toUpper().rightJustified(2, u'0'); };
    const QString compareText =
        QStringLiteral("Compare error at address 0x000345. Expected: 0x%1. Actual: 0x%2.")
            .arg(hex2(wanted), hex2(std::uint8_t(~wanted)));
    const QStringList outcomes{
        "Program OK! Compare OK!", "Program OK! " + compareText,
        "Communication failure! The device hung up. The line was lost. Program operation canceled",
        "Program OK! Compare OK!"};
    if (json) {
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(run.Out.join('\n').toUtf8(), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(why));
        QCOMPARE(object.value("exit_status").toInt(), 3);
        const QJsonArray list = object.value("boards").toArray();
        QCOMPARE(list.size(), 4);
        const QStringList kinds{"ok", "compare_error", "communication", "ok"};
        for (int i = 0; i < 4; ++i) {
            const QJsonObject board = list.at(i).toObject();
            QCOMPARE(board.value("port").toString(), PortOf(*boards[size_t(i)]));
            QCOMPARE(board.value("outcome").toString(), kinds.at(i));
            QCOMPARE(board.value("operation").toString(), QStringLiteral("program+verify"));
            // Only the Program that lost its board says, below its outcome, what the FLASH holds.
            const QString message = board.value("message").toString();
            const QString flashState = board.value("flash_state").toString();
            QCOMPARE(flashState.isEmpty(), i != 2);
            QVERIFY(message.endsWith(flashState));
            QCOMPARE(QString(flashState.isEmpty() ? message : message.chopped(flashState.size() + 1))
                         .replace('\n', ' '),
                     outcomes.at(i));
            QCOMPARE(board.value("manufacturer").toString(), QStringLiteral("VELUM"));
        }
        QCOMPARE(list.at(0).toObject().value("bytes").toInteger(), 2 * FImage.size());
        QCOMPARE(list.at(0).toObject().value("retries").toInt(), 0);
        QVERIFY(list.at(3).toObject().value("retries").toInt() > 0);
        const QJsonObject compare = list.at(1).toObject().value("compare").toObject();
        QCOMPARE(compare.value("address").toInteger(), qint64(kMismatchAddress));
        QCOMPARE(compare.value("expected").toInt(), int(wanted));
        QCOMPARE(compare.value("actual").toInt(), int(std::uint8_t(~wanted)));
        QVERIFY(!list.at(0).toObject().contains("compare"));
    } else {
        QCOMPARE(run.Out.size(), 6); // heading, four boards, verdict
        for (int i = 0; i < 4; ++i) {
            const QString row = run.Out.at(i + 1).simplified();
            QVERIFY2(row.startsWith(PortOf(*boards[size_t(i)]) + " VELUM VF040B " + outcomes.at(i)),
                     qPrintable(why));
        }
        QCOMPARE(run.Out.last(), QStringLiteral("2 of 4 boards failed."));
        // Plain progress lines, each with its port.
        QVERIFY2(run.Err.contains(PortOf(*boards[0]) + "  programming 100%"), qPrintable(run.Err));
    }
    // The trace: each board's commands and answers, CR and LF written out.
    QFile file(trace);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(file.readAll());
    for (const auto& board : boards) {
        QVERIFY2(text.contains(PortOf(*board) + "  >  P INIT\\r\n"), qPrintable(text.left(2000)));
        QVERIFY(text.contains(PortOf(*board) + "  <  P ID\\r\\nDeviceID: VF040B Manufacturer: VELUM\\r\\n>"));
    }
}

void TestCliBoards::programThenVerifyOneBoard() {
    const auto board = StartBoard();
    const TCliRun run = Cli({"--port", PortOf(*board), "--quiet", "program", "--verify", FImagePath});
    QCOMPARE(run.Exit, 0);
    QCOMPARE(run.Out, (QStringList{"Program OK!", "Compare OK!"}));
}

// Mapped names, one of them through a link, found by pinging; a silent board is not taken.
void TestCliBoards::autoPort() {
    const auto first = StartBoard();
    const auto second = StartBoard();
    const auto silent = StartBoard({{fkSilentAfter, 0}});
    const QString link = FDir.filePath(QStringLiteral("board-link"));
    QVERIFY(QFile::link(PortOf(*second), link));
    MapPorts({"COM7=" + PortOf(*first), "COM8=" + link, "COM9=" + PortOf(*silent)});

    const TCliRun list = Cli({"ports"});
    QVERIFY2(list.Out.contains(PortOf(*first) + "  COM7"), qPrintable(list.Out.join('\n')));
    QVERIFY2(list.Out.contains(link + "  (-> " + PortOf(*second) + ")  COM8"),
             qPrintable(list.Out.join('\n')));

    const TCliRun ambiguous = Cli({"--port", "auto", "ping"});
    QCOMPARE(ambiguous.Exit, 64);
    QVERIFY2(ambiguous.Err.contains("COM7 (answered)") && ambiguous.Err.contains("COM8 (answered)") &&
                 ambiguous.Err.contains("COM9 (no answer)"),
             qPrintable(ambiguous.Err));
    const TCliRun all = Cli({"--port", "auto", "--all", "ping"});
    QCOMPARE(all.Exit, 0);
    QCOMPARE(all.Out.last(), QStringLiteral("All 2 boards OK."));

    MapPorts({"COM9=" + PortOf(*silent)});
    const TCliRun none = Cli({"--port", "auto", "ping"});
    QCOMPARE(none.Exit, 3);
    QVERIFY2(none.Err.contains("COM9 (no answer)"), qPrintable(none.Err));
    MapPorts({"COM7=" + PortOf(*first), "COM9=" + PortOf(*silent)});
    const TCliRun one = Cli({"--port", "auto", "identify"});
    QCOMPARE(one.Exit, 0);
    QCOMPARE(one.Out.last(), QStringLiteral("Listed in devices.tervolt"));
    QFile::remove(QDir(FHome.path()).filePath(QStringLiteral("VELUM/Tervolt.conf")));
}

// Ctrl-C (here SIGTERM, handled alike) stops every board between blocks.
void TestCliBoards::interruptStopsEveryBoard() {
    QByteArray image(64 * 1024, '\x5A');
    const QString path = FDir.filePath(QStringLiteral("long.bin"));
    QVERIFY(WriteFile(path, image));
    const auto a = StartBoard({}, 115200);
    const auto b = StartBoard({}, 115200);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), FHome.path());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TERVOLT_BIN_DIR "/tervolt-cli"),
                  {"--ports", PortOf(*a) + ',' + PortOf(*b), "--quiet", "program", path});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(a->Stats().Commands >= 5 && b->Stats().Commands >= 5, 20000);
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 5);
    const QStringList lines =
        QString::fromLocal8Bit(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.at(1).contains("Program operation canceled") &&
            lines.at(2).contains("Program operation canceled"));
    QCOMPARE(lines.last(), QStringLiteral("2 of 2 boards failed."));
}

QTEST_GUILESS_MAIN(TestCliBoards)
#include "tst_cli_boards.moc"

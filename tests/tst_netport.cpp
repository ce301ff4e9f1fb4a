// tervolt-cli through a real ser2net on 127.0.0.1: two simulated boards, one behind a Telnet port
// control (RFC 2217) accepter and one behind a plain TCP accepter, as in a rack with serial servers.

#include "sim/simserver.h"
#include "tests/support/clirun.h"
#include "tests/support/hexwriter.h"
#include "tests/support/simboard.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kServerReadyMs = 10000; // ser2net listening after its start

// A TCP port nobody listens on now: the system's pick for a socket bound and closed again.
quint16 FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// A serial server that says what a test scripts: each step waits for the client's bytes to hold its
// first text and answers its second; the connection stays until the client goes.
using TServerSteps = QList<QPair<QByteArray, QByteArray>>;

class TScriptedServer {
public:
    explicit TScriptedServer(TServerSteps steps) : FSteps(std::move(steps)) {
        FListener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(FListener, 1) == 0 &&
            ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            FPort = ntohs(address.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TScriptedServer() {
        ::shutdown(FListener, SHUT_RDWR);
        ::close(FListener);
        FThread.join();
    }
    quint16 Port() const { return FPort; }

private:
    void Serve() {
        const int client = ::accept(FListener, nullptr, nullptr);
        if (client < 0)
            return;
        QByteArray seen;
        qsizetype step = 0;
        char buffer[256];
        for (ssize_t n; (n = ::recv(client, buffer, sizeof buffer, 0)) > 0;) {
            seen.append(buffer, n);
            while (step < FSteps.size() && seen.contains(FSteps.at(step).first)) {
                seen.remove(0, seen.indexOf(FSteps.at(step).first) + FSteps.at(step).first.size());
                ::send(client, FSteps.at(step).second.constData(), size_t(FSteps.at(step).second.size()),
                       MSG_NOSIGNAL);
                ++step;
            }
        }
        ::close(client);
    }

    const TServerSteps FSteps;
    int FListener = -1;
    quint16 FPort = 0;
    std::thread FThread;
};

bool Accepts(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// An image whose every block carries IAC bytes (0xFF), some doubled, among others.
QByteArray IacImage() {
    QByteArray bytes;
    for (int i = 0; i < 3000; ++i)
        bytes.append(char(i % 7 == 0 || i % 11 == 0 ? 0xFF : (i * 37) & 0xFF));
    return bytes;
}

std::vector<std::pair<std::uint32_t, QByteArray>> IacRecords() {
    std::vector<std::pair<std::uint32_t, QByteArray>> records;
    const QByteArray bytes = IacImage();
    for (qsizetype at = 0; at < bytes.size(); at += 32)
        records.emplace_back(0x100 + std::uint32_t(at), bytes.mid(at, 32));
    return records;
}

} // namespace

class TestNetPort : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;
    QTemporaryDir FHome;
    std::unique_ptr<TSimServer> FTelnetBoard;
    std::unique_ptr<TSimServer> FRawBoard;
    QProcess FSer2net;
    quint16 FTelnetPort = 0;
    quint16 FRawPort = 0;
    QString FImage;

    QString Url(bool telnet) const {
        return telnet ? QStringLiteral("rfc2217://127.0.0.1:%1").arg(FTelnetPort)
                      : QStringLiteral("socket://127.0.0.1:%1").arg(FRawPort);
    }
    TSimServer& Board(bool telnet) { return telnet ? *FTelnetBoard : *FRawBoard; }

    bool StartSer2net() {
        FTelnetPort = FreePort();
        FRawPort = FreePort();
        const QString config = FDir.filePath(QStringLiteral("ser2net.yaml"));
        const QString text = QStringLiteral("connection: &rfc2217board\n"
                                            "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                                            "  connector: serialdev,%2,115200n81,local\n"
                                            "connection: &rawboard\n"
                                            "  accepter: tcp,127.0.0.1,%3\n"
                                            "  connector: serialdev,%4,115200n81,local\n")
                                 .arg(FTelnetPort)
                                 .arg(QString::fromStdString(FTelnetBoard->SlavePath()))
                                 .arg(FRawPort)
                                 .arg(QString::fromStdString(FRawBoard->SlavePath()));
        if (!WriteFile(config, text.toUtf8()))
            return false;
        FSer2net.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FSer2net.start(QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/sbin"}),
                       {"-n", "-d", "-c", config, "-P", FDir.filePath(QStringLiteral("ser2net.pid"))});
        if (!FSer2net.waitForStarted())
            return false;
        for (int waited = 0; waited < kServerReadyMs; waited += 20) {
            if (Accepts(FTelnetPort) && Accepts(FRawPort))
                return true;
            QTest::qWait(20);
        }
        return false;
    }

    void StopSer2net() {
        if (FSer2net.state() == QProcess::NotRunning)
            return;
        FSer2net.kill();
        FSer2net.waitForFinished();
    }

    TCliRun Cli(const QStringList& args) { return RunCli(args, FHome.path()); }

private slots:
    void initTestCase();
    void cleanupTestCase() { StopSer2net(); }
    void runsBothWays_data();
    void runsBothWays();
    void rateIsConfirmed();
    void nobodyListens_data();
    void nobodyListens();
    void badUrls_data();
    void badUrls();
    void severalBoardsAtOnce();
    void serverSaysNo_data();
    void serverSaysNo();
    void serverStoppedMidRun();
};

void TestNetPort::initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/sbin"}).isEmpty())
        QSKIP("ser2net is not installed (scripts/test installs it)");
    QVERIFY(FDir.isValid() && FHome.isValid());
    FTelnetBoard = std::make_unique<TSimServer>(TSimConfig{});
    FRawBoard = std::make_unique<TSimServer>(TSimConfig{});
    QVERIFY(Started(*FTelnetBoard) && Started(*FRawBoard));
    QVERIFY2(StartSer2net(), "ser2net did not start listening");
    FImage = FDir.filePath(QStringLiteral("iac.hex"));
    QVERIFY(WriteFile(FImage, IntelHexText(IacRecords())));
}

void TestNetPort::runsBothWays_data() {
    QTest::addColumn<bool>("telnet");
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("lastLine");
    for (const bool telnet : {true, false}) {
        const char* kind = telnet ? "rfc2217" : "socket";
        QTest::addRow("%s identify", kind)
            << telnet << QStringList{"identify"} << "Listed in devices.tervolt";
        QTest::addRow("%s program", kind) << telnet << QStringList{"program", "IMAGE"} << "Program OK!";
        QTest::addRow("%s verify", kind) << telnet << QStringList{"verify", "IMAGE"} << "Compare OK!";
    }
}

void TestNetPort::runsBothWays() {
    QFETCH(bool, telnet);
    QFETCH(QStringList, command);
    QFETCH(QString, lastLine);
    command.replaceInStrings(QStringLiteral("IMAGE"), FImage);
    const TCliRun run = Cli(QStringList{"--port", Url(telnet)} + command);
    QVERIFY2(run.Exit == 0, qPrintable(run.Err + run.Out.join('\n')));
    QCOMPARE(run.Out.last(), lastLine);
    if (command.first() == QLatin1String("program")) {
        QString why;
        QVERIFY2(BoardHolds(Board(telnet), ImageOf(IacRecords()), why), qPrintable(why));
    }
}

void TestNetPort::rateIsConfirmed() {
    const QString trace = FDir.filePath(QStringLiteral("rate.trace"));
    const TCliRun run = Cli({"--port", Url(true), "--baud", "57600", "--trace", trace, "identify"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    QCOMPARE(FTelnetBoard->Stats().LineRate, 57600u);
    QFile file(trace);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    // The negotiation is a note; no Telnet byte is taken for the line's.
    QVERIFY(text.contains("#  rfc2217: the server confirms 57600 baud"));
    QVERIFY(!text.contains("\\xff"));
}

void TestNetPort::nobodyListens_data() {
    QTest::addColumn<QString>("scheme");
    QTest::newRow("rfc2217") << "rfc2217";
    QTest::newRow("socket") << "socket";
}

void TestNetPort::nobodyListens() {
    QFETCH(QString, scheme);
    const quint16 port = FreePort();
    const TCliRun run =
        Cli({"--port", QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port), "identify"});
    QVERIFY(run.Exit != 0);
    QVERIFY2(run.Err.contains(QStringLiteral("host 127.0.0.1, TCP port %1").arg(port)), qPrintable(run.Err));
}

void TestNetPort::badUrls_data() {
    QTest::addColumn<QString>("url");
    QTest::newRow("no port") << "rfc2217://rack3";
    QTest::newRow("port 0") << "socket://rack3:0";
    QTest::newRow("port too high") << "rfc2217://rack3:65536";
    QTest::newRow("path after it") << "socket://rack3:4001/x";
}

void TestNetPort::badUrls() {
    QFETCH(QString, url);
    const TCliRun run = Cli({"--port", url, "identify"});
    QCOMPARE(run.Exit, 64);
    QVERIFY2(run.Err.contains(QStringLiteral("names no network port")), qPrintable(run.Err));
}

// A server that will not do what port control asks ends the open with what it did.
void TestNetPort::serverSaysNo_data() {
    QTest::addColumn<TServerSteps>("steps");
    QTest::addColumn<QString>("said");
    const QByteArray willComPort("\xFF\xFB\x2C", 3); // IAC WILL COM-PORT-OPTION
    const QByteArray setRate("\xFF\xFA\x2C\x01", 4); // IAC SB COM-PORT SET-BAUDRATE
    const QByteArray agree("\xFF\xFD\x2C", 3);       // IAC DO COM-PORT-OPTION
    // The other four confirmations as asked: 8 data bits, no parity, one stop bit, no flow control.
    const QByteArray format("\xFF\xFA\x2C\x66\x08\xFF\xF0\xFF\xFA\x2C\x67\x01\xFF\xF0"
                            "\xFF\xFA\x2C\x68\x01\xFF\xF0\xFF\xFA\x2C\x69\x01\xFF\xF0",
                            28);
    QTest::newRow("never answers") << TServerSteps{} << "did not agree to Telnet port control";
    QTest::newRow("refuses port control")
        << TServerSteps{{willComPort, QByteArray("\xFF\xFE\x2C", 3)}} << "refuses Telnet port control";
    QTest::newRow("confirms another rate")
        << TServerSteps{{willComPort, agree},
                        {setRate, QByteArray("\xFF\xFA\x2C\x65\x00\x00\x25\x80\xFF\xF0", 10) + format}}
        << "(the server refused the rate)";
    QTest::newRow("a rate of two bytes")
        << TServerSteps{{willComPort, agree},
                        {setRate, QByteArray("\xFF\xFA\x2C\x65\x25\x80\xFF\xF0", 8) + format}}
        << "answered the rate with 2 bytes, not 4";
}

void TestNetPort::serverSaysNo() {
    QFETCH(TServerSteps, steps);
    QFETCH(QString, said);
    TScriptedServer server(steps);
    QVERIFY(server.Port() != 0);
    const TCliRun run =
        Cli({"--port", QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.Port()), "identify"});
    QVERIFY(run.Exit != 0);
    QVERIFY2(run.Err.contains(said), qPrintable(run.Err));
}

// Two racks and a board on the bench in one run: each gets the whole image.
void TestNetPort::severalBoardsAtOnce() {
    TSimServer bench{TSimConfig{}};
    QVERIFY(Started(bench));
    const QString ports =
        QStringList{Url(true), Url(false), QString::fromStdString(bench.SlavePath())}.join(',');
    const TCliRun run = Cli({"--ports", ports, "program", FImage});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err + run.Out.join('\n')));
    for (TSimServer* board : {FTelnetBoard.get(), FRawBoard.get(), &bench}) {
        QString why;
        QVERIFY2(BoardHolds(*board, ImageOf(IacRecords()), why), qPrintable(why));
    }
}

void TestNetPort::serverStoppedMidRun() {
    // A slow board keeps the run going long enough to pull the server from under it.
    FTelnetBoard->AddFault(TSimFault{fkSlow, 0, 20});
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), FHome.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), FHome.path());
    cli.setProcessEnvironment(environment);
    const std::uint64_t before = FTelnetBoard->Stats().Commands;
    cli.start(CliProgram(), {"--port", Url(true), "program", FImage});
    QVERIFY(cli.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(FTelnetBoard->Stats().Commands >= before + 6, 60000);
    StopSer2net();
    QVERIFY(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QVERIFY2(cli.exitCode() != 0, qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("The line was lost.")), qPrintable(out));
    QVERIFY2(out.contains(QRegularExpression(QStringLiteral("The FLASH (holds|was erased|may have been)"))),
             qPrintable(out));
    QVERIFY(!out.contains(QStringLiteral("Program OK!")));
}

QTEST_GUILESS_MAIN(TestNetPort)
#include "tst_netport.moc"

// The simulated board: the monitor model's exact replies, its FLASH, its faults, the pseudo-terminal
// server, and the tervolt-sim program end to end.

#include "sim/monitor.h"
#include "sim/simserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const auto kDeadline = 10s;

QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), qsizetype(text.size()));
}

QByteArray Run(TSimMonitor& monitor, std::string_view received) {
    QByteArray out;
    for (const std::string& answer : monitor.Feed(received))
        out += Bytes(answer);
    return out;
}

QByteArray Answer(const QByteArray& line, const QByteArray& result) {
    return line + "\r\n" + result + "\r\n>";
}

TSimConfig WithFaults(std::initializer_list<const char*> faults, std::uint32_t size = 524288) {
    TSimConfig config;
    config.Size = size;
    for (const char* text : faults) {
        std::string error;
        const auto fault = ParseSimFault(text, error);
        if (!fault)
            qFatal("bad fault %s: %s", text, error.c_str());
        config.Faults.push_back(*fault);
    }
    return config;
}

// The PC's end of the simulated board's line.
class TBoardLine {
public:
    explicit TBoardLine(const QString& path)
        : FFd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~TBoardLine() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TBoardLine(const TBoardLine&) = delete;
    TBoardLine& operator=(const TBoardLine&) = delete;

    bool IsOpen() const { return FFd >= 0; }
    bool Write(const QByteArray& data) {
        return ::write(FFd, data.constData(), size_t(data.size())) == data.size();
    }

    // Everything up to and including the prompt; shorter when the deadline passed first.
    QByteArray ReadAnswer() {
        return ReadUntil([](const QByteArray& out) { return out.endsWith('>'); });
    }
    // Exactly `count` bytes; shorter when the deadline passed first.
    QByteArray Read(qsizetype count) {
        return ReadUntil([count](const QByteArray& out) { return out.size() >= count; });
    }

    template <typename TDone> QByteArray ReadUntil(TDone done) {
        QByteArray out;
        const QDeadlineTimer deadline(kDeadline);
        while (!done(out) && !deadline.hasExpired()) {
            char c;
            if (::read(FFd, &c, 1) == 1) {
                out.append(c);
                continue;
            }
            pollfd p{FFd, POLLIN, 0};
            ::poll(&p, 1, 100);
        }
        return out;
    }

    // True once the board side of the terminal has gone away.
    bool WaitForHangup() {
        const QDeadlineTimer deadline(kDeadline);
        while (!deadline.hasExpired()) {
            pollfd p{FFd, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                char c;
                const ssize_t got = ::read(FFd, &c, 1);
                if (got == 0 || (got < 0 && errno != EAGAIN) || (p.revents & POLLHUP))
                    return true;
            }
        }
        return false;
    }

private:
    int FFd;
};

bool WaitReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, int(std::chrono::milliseconds(kDeadline).count())) == 1;
}

// Intel HEX text to address -> byte, with record types 00, 01 and 02; checksums must hold.
bool ParseHex(const QByteArray& text, QMap<quint32, quint8>& bytes) {
    quint32 base = 0;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        if (!line.startsWith(':'))
            return false;
        const QByteArray record = QByteArray::fromHex(line.mid(1));
        if (record.size() < 5 || record.size() != 5 + quint8(record[0]))
            return false;
        quint8 sum = 0;
        for (char c : record)
            sum = quint8(sum + quint8(c));
        if (sum != 0)
            return false;
        const quint32 offset = quint32(quint8(record[1])) << 8 | quint8(record[2]);
        if (record[3] == 0) {
            for (int i = 0; i < quint8(record[0]); ++i)
                bytes.insert(base + offset + quint32(i), quint8(record[4 + i]));
        } else if (record[3] == 2) {
            base = (quint32(quint8(record[4])) << 8 | quint8(record[5])) * 16;
        } else if (record[3] != 1) {
            return false;
        }
    }
    return true;
}

} // namespace

class TSimMonitorTest : public QObject {
    Q_OBJECT

private slots:
    void Replies_data();
    void Replies();
    void BytesMayArriveOneByOne();
    void FlashIsNorLike_data();
    void FlashIsNorLike();
    void EraseClearsFlashAndMask();
    void MismatchReportNamesTheFirstDifference();
    void Faults_data();
    void Faults();
    void HangupAfterIgnoresTheRest();
    void NoisePrefixesOnlyTheFirstAnswer();
    void EchoResultsAndDelays();
    void FaultText_data();
    void FaultText();

    void ServerHangsUp();
    void ServerStatsAsJson();
    void ServerTiming_data();
    void ServerTiming();

    void ProgramUsage_data();
    void ProgramUsage();
    void ProgramRunsLinksAndDumps();
    void ProgramEndsAfterHangup();
};

void TSimMonitorTest::Replies_data() {
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("ping") << QByteArray("\r") << QByteArray("\r\n\r\n>");
    QTest::newRow("ping with LF") << QByteArray("\r\n") << QByteArray("\r\n\r\n>");
    QTest::newRow("id") << QByteArray("P ID\r") << Answer("P ID", "DeviceID: VF040B Manufacturer: VELUM");
    QTest::newRow("init") << QByteArray("P INIT\r") << Answer("P INIT", "FLASH is ready to programming.");
    QTest::newRow("reset") << QByteArray("P RESET\r") << Answer("P RESET", "FLASH reset done");
    QTest::newRow("prog") << QByteArray("P PROG 000100 12AB\r") << Answer("P PROG 000100 12AB", "Done");
    QTest::newRow("prog of no bytes") << QByteArray("P PROG 000100 \r") << Answer("P PROG 000100 ", "Done");
    QTest::newRow("prog last byte") << QByteArray("P PROG 07FFFF 00\r") << Answer("P PROG 07FFFF 00", "Done");
    QTest::newRow("verify erased") << QByteArray("P VERIFY 000100 FFff\r")
                                   << Answer("P VERIFY 000100 FFff", "Compare OK");
    QTest::newRow("prog past the end")
        << QByteArray("P PROG 07FFFF 1234\r") << Answer("P PROG 07FFFF 1234", "Address out of range");
    QTest::newRow("verify at the end")
        << QByteArray("P VERIFY 080000 \r") << Answer("P VERIFY 080000 ", "Address out of range");
    QTest::newRow("address above 32 bits")
        << QByteArray("P PROG 100000000 00\r") << Answer("P PROG 100000000 00", "Syntax error");
    QTest::newRow("odd digits") << QByteArray("P PROG 000100 123\r")
                                << Answer("P PROG 000100 123", "Bad hex data");
    QTest::newRow("non-hex data") << QByteArray("P VERIFY 000100 1G\r")
                                  << Answer("P VERIFY 000100 1G", "Bad hex data");
    QTest::newRow("non-hex address") << QByteArray("P PROG 0001Z0 12\r")
                                     << Answer("P PROG 0001Z0 12", "Syntax error");
    QTest::newRow("prog without address") << QByteArray("P PROG\r") << Answer("P PROG", "Syntax error");
    QTest::newRow("id with extra word") << QByteArray("P ID X\r") << Answer("P ID X", "Syntax error");
    QTest::newRow("unknown") << QByteArray("HELLO\r") << Answer("HELLO", "Unknown command");
    QTest::newRow("lower case") << QByteArray("p id\r") << Answer("p id", "Unknown command");
    QTest::newRow("blank line") << QByteArray(" \r") << Answer(" ", "Unknown command");
    QTest::newRow("two commands") << QByteArray("\rP RESET\r")
                                  << QByteArray("\r\n\r\n>" + Answer("P RESET", "FLASH reset done"));
    QTest::newRow("no CR yet") << QByteArray("P ID") << QByteArray();
    QTest::newRow("line too long then a command")
        << QByteArray(5000, 'A') + "\rP RESET\r"
        << Answer(QByteArray(int(TSimMonitor::kMaxLineBytes), 'A'), "Line too long") +
               Answer("P RESET", "FLASH reset done");
}

void TSimMonitorTest::Replies() {
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, sent);

    TSimMonitor monitor{TSimConfig()};
    QCOMPARE(Run(monitor, received.toStdString()), sent);
}

void TSimMonitorTest::BytesMayArriveOneByOne() {
    const std::string session = "P INIT\r\nP PROG 000010 A5\r\rP VERIFY 000010 A4\r";
    TSimMonitor whole{TSimConfig()};
    TSimMonitor split{TSimConfig()};
    QByteArray pieces;
    for (char c : session)
        pieces += Run(split, std::string_view(&c, 1));
    QCOMPARE(pieces, Run(whole, session));
    QVERIFY(pieces.endsWith(
        Answer("P VERIFY 000010 A4", "Compare error at address 000010: Expected: A4 Actual: A5")));
}

void TSimMonitorTest::FlashIsNorLike_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<QByteArray>("flashAt10");

    QTest::newRow("bits cannot be set back")
        << QByteArray("P PROG 000010 0F\r") << QByteArray("P PROG 000010 F0")
        << QByteArray("Program error at address 000010: Wanted: F0 Found: 0F") << QByteArray::fromHex("0FFF");
    QTest::newRow("same value again") << QByteArray("P PROG 000010 0F\r") << QByteArray("P PROG 000010 0F")
                                      << QByteArray("Done") << QByteArray::fromHex("0FFF");
    QTest::newRow("clearing more bits") << QByteArray("P PROG 000010 0F\r") << QByteArray("P PROG 000010 0E")
                                        << QByteArray("Done") << QByteArray::fromHex("0EFF");
    QTest::newRow("stops at the failing byte")
        << QByteArray("P PROG 000011 00\r") << QByteArray("P PROG 000010 1201FF")
        << QByteArray("Program error at address 000011: Wanted: 01 Found: 00") << QByteArray::fromHex("1200");
    QTest::newRow("erase allows every value")
        << QByteArray("P PROG 000010 00\rP INIT\r") << QByteArray("P PROG 000010 F0") << QByteArray("Done")
        << QByteArray::fromHex("F0FF");
    QTest::newRow("syntax error writes nothing") << QByteArray() << QByteArray("P PROG 000010 00 11")
                                                 << QByteArray("Syntax error") << QByteArray::fromHex("FFFF");
}

void TSimMonitorTest::FlashIsNorLike() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, result);
    QFETCH(QByteArray, flashAt10);

    TSimMonitor monitor{TSimConfig()};
    Run(monitor, before.toStdString());
    QCOMPARE(Run(monitor, (command + '\r').toStdString()), Answer(command, result));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(monitor.Flash().data()) + 0x10, 2), flashAt10);
}

void TSimMonitorTest::EraseClearsFlashAndMask() {
    TSimMonitor monitor{WithFaults({}, 64)};
    Run(monitor, "P PROG 000001 00FF\rP PROG 00003F 5A\r");
    QCOMPARE(monitor.Flash()[1], std::uint8_t(0x00));
    QCOMPARE(monitor.Flash()[0x3F], std::uint8_t(0x5A));
    std::vector<bool> expected(64, false);
    expected[1] = expected[2] = expected[0x3F] = true; // programming FF still counts as programmed
    QVERIFY(monitor.Programmed() == expected);

    Run(monitor, "P INIT\r");
    QVERIFY(monitor.Flash() == std::vector<std::uint8_t>(64, 0xFF));
    QVERIFY(monitor.Programmed() == std::vector<bool>(64, false));
}

void TSimMonitorTest::MismatchReportNamesTheFirstDifference() {
    TSimMonitor monitor{WithFaults({}, 0x2000000)};
    Run(monitor, "P PROG 001F00 0012\r");
    QCOMPARE(Run(monitor, "P VERIFY 001F00 00AAFF\r"),
             Answer("P VERIFY 001F00 00AAFF", "Compare error at address 001F01: Expected: AA Actual: 12"));
    QCOMPARE(Run(monitor, "P VERIFY 1000000 00\r"),
             Answer("P VERIFY 1000000 00", "Compare error at address 1000000: Expected: 00 Actual: FF"));
}

void TSimMonitorTest::Faults_data() {
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("flashAt10");

    const QByteArray session = "\rP PROG 000010 3C\r\rP ID\r";
    const QByteArray ping = "\r\n\r\n>";
    const QByteArray prog = Answer("P PROG 000010 3C", "Done");
    const QByteArray id = Answer("P ID", "DeviceID: VF040B Manufacturer: VELUM");

    QTest::newRow("none") << QStringList() << session << ping + prog + ping + id << 0x3C;
    QTest::newRow("drop:2 loses the command") << QStringList{"drop:2"} << session << ping + ping << 0xFF;
    QTest::newRow("drop:3") << QStringList{"drop:3"} << session << ping + prog + id << 0x3C;
    QTest::newRow("garble:2 keeps the framing")
        << QStringList{"garble:2"} << session
        << ping + Answer("P PROG 000010 3C", "done") + ping + QByteArray(id).replace("DeviceID", "deviceID")
        << 0x3C;
    QTest::newRow("garble:1 ping") << QStringList{"garble:1"} << QByteArray("\r") << QByteArray("\r\n?\r\n>")
                                   << 0xFF;
    QTest::newRow("silent-after:1") << QStringList{"silent-after:1"} << session << ping << 0xFF;
    QTest::newRow("silent-after:0") << QStringList{"silent-after:0"} << session << QByteArray() << 0xFF;
    QTest::newRow("mismatch reads inverted")
        << QStringList{"mismatch:0x10"} << QByteArray("P PROG 000010 3C\rP VERIFY 00000F FF3C\r")
        << prog + Answer("P VERIFY 00000F FF3C", "Compare error at address 000010: Expected: 3C Actual: C3")
        << 0x3C;
    QTest::newRow("mismatch elsewhere") << QStringList{"mismatch:17"} << QByteArray("P VERIFY 000010 FF\r")
                                        << Answer("P VERIFY 000010 FF", "Compare OK") << 0xFF;
    // Answers around the real one, as a faulty board sends them; the command is carried out once.
    QTest::newRow("dup:2 sends the answer twice")
        << QStringList{"dup:2:5"} << session << ping + prog + prog + ping + id << 0x3C;
    QTest::newRow("bare:2 claims success without echo first")
        << QStringList{"bare:2"} << session << ping + Answer("", "Done") + prog + ping + id << 0x3C;
    QTest::newRow("echo-ahead:2 echoes a command not sent")
        << QStringList{"echo-ahead:2"} << session << ping + Answer("P PROG 000011 3C", "Done") + ping + id
        << 0x3C;
    QTest::newRow("extra:2 answers first with its text")
        << QStringList{"extra:2:Compare OK\\r\\n>"} << session
        << ping + Answer("P PROG 000010 3C", "Compare OK\r\n>") + prog + ping + id << 0x3C;
}

void TSimMonitorTest::Faults() {
    QFETCH(QStringList, faults);
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, sent);
    QFETCH(int, flashAt10);

    TSimConfig config;
    for (const QString& text : faults) {
        std::string error;
        config.Faults.push_back(*ParseSimFault(text.toStdString(), error));
    }
    TSimMonitor monitor{config};
    QCOMPARE(Run(monitor, received.toStdString()), sent);
    QCOMPARE(int(monitor.Flash()[0x10]), flashAt10);
    QCOMPARE(monitor.CommandCount(), std::uint64_t(received.count('\r')));
}

void TSimMonitorTest::HangupAfterIgnoresTheRest() {
    TSimMonitor monitor{WithFaults({"hangup-after:2"})};
    QCOMPARE(Run(monitor, "\r"), QByteArray("\r\n\r\n>"));
    QVERIFY(!monitor.HangupDue());
    QCOMPARE(Run(monitor, "P RESET\rP INIT\r\r"), Answer("P RESET", "FLASH reset done"));
    QVERIFY(monitor.HangupDue());
    QCOMPARE(monitor.CommandCount(), std::uint64_t(2));
}

void TSimMonitorTest::NoisePrefixesOnlyTheFirstAnswer() {
    TSimMonitor quiet{TSimConfig()};
    QVERIFY(quiet.StartupBanner().empty());

    TSimMonitor monitor{WithFaults({"noise"})};
    const QByteArray banner = Bytes(monitor.StartupBanner());
    QVERIFY(banner.size() > 3);
    QVERIFY(banner.endsWith("\r\n>"));
    const QByteArray first = Run(monitor, "P RESET\r");
    const QByteArray exact = Answer("P RESET", "FLASH reset done");
    QVERIFY(first.endsWith(exact));
    const QByteArray stray = first.left(first.size() - exact.size());
    QVERIFY(!stray.isEmpty());
    for (char c : {'\r', '\n', '>'})
        QVERIFY(!stray.contains(c));
    QCOMPARE(Run(monitor, "P RESET\r"), exact);
}

void TSimMonitorTest::FaultText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("kind");
    QTest::addColumn<uint>("value");

    QTest::newRow("drop") << "drop:3" << true << int(fkDrop) << 3u;
    QTest::newRow("garble hex") << "garble:0x10" << true << int(fkGarble) << 16u;
    QTest::newRow("silent-after 0") << "silent-after:0" << true << int(fkSilentAfter) << 0u;
    QTest::newRow("hangup-after") << "hangup-after:7" << true << int(fkHangupAfter) << 7u;
    QTest::newRow("noise") << "noise" << true << int(fkNoise) << 0u;
    QTest::newRow("mismatch") << "mismatch:0x1F00" << true << int(fkMismatch) << 0x1F00u;
    QTest::newRow("drop 0") << "drop:0" << false << 0 << 0u;
    QTest::newRow("hangup-after 0") << "hangup-after:0" << false << 0 << 0u;
    QTest::newRow("no number") << "garble:" << false << 0 << 0u;
    QTest::newRow("no colon") << "drop" << false << 0 << 0u;
    QTest::newRow("negative") << "drop:-1" << false << 0 << 0u;
    QTest::newRow("hex without prefix") << "mismatch:1F00" << false << 0 << 0u;
    QTest::newRow("above 32 bits") << "mismatch:4294967296" << false << 0 << 0u;
    QTest::newRow("noise with value") << "noise:1" << false << 0 << 0u;
    QTest::newRow("late") << "late:3:5100" << true << int(fkLate) << 3u;
    QTest::newRow("slow") << "slow:20" << true << int(fkSlow) << 0u;
    QTest::newRow("flood from power-up") << "flood:0" << true << int(fkFlood) << 0u;
    QTest::newRow("late 0") << "late:0:5" << false << 0 << 0u;
    QTest::newRow("late without time") << "late:3" << false << 0 << 0u;
    QTest::newRow("dup") << "dup:4:300" << true << int(fkDup) << 4u;
    QTest::newRow("bare") << "bare:2" << true << int(fkBare) << 2u;
    QTest::newRow("echo-ahead") << "echo-ahead:7" << true << int(fkEchoAhead) << 7u;
    QTest::newRow("extra with escapes and colons")
        << "extra:5:Compare error at 1: x\\r\\n>" << true << int(fkExtra) << 5u;
    QTest::newRow("dup without time") << "dup:4" << false << 0 << 0u;
    QTest::newRow("extra 0") << "extra:0:x" << false << 0 << 0u;
    QTest::newRow("extra bad escape") << "extra:1:\\q" << false << 0 << 0u;
    QTest::newRow("unknown") << "flip:2" << false << 0 << 0u;
}

void TSimMonitorTest::FaultText() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, kind);
    QFETCH(uint, value);

    std::string error;
    const auto fault = ParseSimFault(text.toStdString(), error);
    QCOMPARE(fault.has_value(), valid);
    QCOMPARE(error.empty(), valid);
    if (valid) {
        QCOMPARE(int(fault->Kind), kind);
        QCOMPARE(uint(fault->Value), value);
    }
}

void TSimMonitorTest::EchoResultsAndDelays() {
    TSimConfig config = WithFaults({"late:2:700", "slow:10", "flood:3"});
    config.Echo = false;
    std::pair<std::string, std::string> result;
    std::string error;
    QVERIFY(ParseSimResult("PROG=Do>ne\\0\\x41", result, error));
    config.Results.push_back(result);
    QVERIFY(!ParseSimResult("PROG=\\q", result, error));
    QVERIFY(!ParseSimResult("ERASE=x", result, error));
    TSimMonitor monitor{config};
    const std::vector<TSimAnswer> answers = monitor.FeedTimed("\rP PROG 000010 3C\rP ID\rP ID\r");
    QCOMPARE(answers.size(), size_t(3)); // the flood starts once the third is answered
    QCOMPARE(Bytes(answers[0].Text), QByteArray("\r\n\r\n>"));
    QCOMPARE(Bytes(answers[1].Text), QByteArray("\r\nDo>ne\0A\r\n>", 12));
    QCOMPARE(int(monitor.Flash()[0x10]), 0x3C); // still carried out
    QCOMPARE(answers[0].DelayMs, 10u);
    QCOMPARE(answers[1].DelayMs, 710u);
    QVERIFY(monitor.Flooding());
}

void TSimMonitorTest::ServerHangsUp() {
    TSimServer server(WithFaults({"hangup-after:2"}));
    std::string error;
    QVERIFY2(server.Start(error), error.c_str());
    TBoardLine line(QString::fromStdString(server.SlavePath()));
    QVERIFY(line.Write("\r"));
    QCOMPARE(line.ReadAnswer(), QByteArray("\r\n\r\n>"));
    QVERIFY(line.Write("P RESET\r"));
    QCOMPARE(line.ReadAnswer(), Answer("P RESET", "FLASH reset done"));
    QVERIFY(line.WaitForHangup());
    QVERIFY(WaitReadable(server.FinishedFd()));
    QVERIFY(server.Finished());
    QVERIFY(server.FailureText().empty());
}

void TSimMonitorTest::ServerStatsAsJson() {
    TSimServer server{TSimConfig()};
    std::string error;
    QVERIFY2(server.Start(error), error.c_str());
    TBoardLine line(QString::fromStdString(server.SlavePath()));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(line.Write("\r"));
        QCOMPARE(line.ReadAnswer(), QByteArray("\r\n\r\n>"));
    }
    server.Stop();

    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("stats.json")).toStdString();
    QVERIFY2(server.WriteStats(path, error), error.c_str());
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonParseError parseError;
    const QJsonObject json = QJsonDocument::fromJson(file.readAll(), &parseError).object();
    QCOMPARE(parseError.error, QJsonParseError::NoError);
    QCOMPARE(json.value("count").toInt(), 3);
    QCOMPARE(json.value("bytes_in").toInt(), 3);
    QCOMPARE(json.value("bytes_out").toInt(), 15);
    QCOMPARE(json.value("turnaround_samples").toInt(), 2); // the first command followed no prompt
    QVERIFY(json.value("turnaround_median_us").toInteger(-1) >= 0);
    QVERIFY(json.value("turnaround_p99_us").toInteger(-1) >= json.value("turnaround_median_us").toInteger());
    QVERIFY(json.value("wall_seconds").toDouble(-1) > 0);
    QCOMPARE(json.value("line_busy_seconds").toDouble(-1), 0.0);
    QCOMPARE(json.value("echo").toString(), QStringLiteral("line"));
    QCOMPARE(json.value("burst_ms").toInt(-1), 0);
}

// Every timing gives the host the same bytes; live echo sends the line before its CR, and the line
// busy time counts a moment once even when both directions carry a character.
void TSimMonitorTest::ServerTiming_data() {
    QTest::addColumn<bool>("liveEcho");
    QTest::addColumn<uint>("burstMs");
    QTest::newRow("line echo") << false << 0u;
    QTest::newRow("live echo") << true << 0u;
    QTest::newRow("bursts") << false << 16u;
    QTest::newRow("live echo in bursts") << true << 5u;
}

void TSimMonitorTest::ServerTiming() {
    QFETCH(bool, liveEcho);
    QFETCH(uint, burstMs);
    const unsigned baud = 9600;
    TSimServer server(TSimConfig(), TSimTiming{baud, liveEcho, burstMs});
    std::string error;
    QVERIFY2(server.Start(error), error.c_str());
    TBoardLine line(QString::fromStdString(server.SlavePath()));

    QVERIFY(line.Write("P ID"));
    if (liveEcho)
        QCOMPARE(line.Read(4), QByteArray("P ID"));
    QVERIFY(line.Write("\r"));
    const QByteArray expected = Answer("P ID", "DeviceID: VF040B Manufacturer: VELUM");
    QCOMPARE((liveEcho ? "P ID" : QByteArray()) + line.ReadAnswer(), expected);
    QVERIFY(line.Write("\r"));
    QCOMPARE(line.ReadAnswer(), QByteArray("\r\n\r\n>"));

    server.Stop();
    const TSimStats stats = server.Stats();
    QCOMPARE(stats.LiveEcho, liveEcho);
    QCOMPARE(stats.BurstMs, burstMs);
    QCOMPARE(stats.TurnaroundsUs.size(), std::size_t(1));
    const double charSeconds = 10.0 / baud;
    const double bothWays = double(stats.BytesIn + stats.BytesOut) * charSeconds;
    if (liveEcho) // "P I" and "D" echoed while later characters came in
        QVERIFY2(stats.LineBusySeconds < bothWays - 2.5 * charSeconds,
                 qPrintable(QString::number(stats.LineBusySeconds)));
    else
        QVERIFY(qFuzzyCompare(stats.LineBusySeconds, bothWays));
    QVERIFY(stats.LineBusySeconds <= stats.WallSeconds);
}

void TSimMonitorTest::ProgramUsage_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");

    // --help and -h: tst_cli's informationOptions.
    // Files written at exit are checked before the board serves: status 1, the reason, no usage.
    QTest::newRow("dump folder missing") << QStringList{"--dump", "/nonexistent-folder/board.hex"} << 1;
    QTest::newRow("stats is a folder") << QStringList{"--stats", QDir::tempPath()} << 1;
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 64;
    QTest::newRow("missing value") << QStringList{"--fault"} << 64;
    QTest::newRow("bad fault") << QStringList{"--fault", "drop:0"} << 64;
    QTest::newRow("size 0") << QStringList{"--size", "0"} << 64;
    QTest::newRow("size too big") << QStringList{"--size", "0x20000000"} << 64;
    QTest::newRow("baud not a number") << QStringList{"--baud", "fast"} << 64;
    QTest::newRow("id with a blank") << QStringList{"--device-id", "VF 040"} << 64;
    QTest::newRow("stray argument") << QStringList{"extra"} << 64;
    QTest::newRow("unknown echo") << QStringList{"--echo", "late"} << 64;
    QTest::newRow("live echo without echo") << QStringList{"--echo", "live", "--no-echo"} << 64;
    QTest::newRow("burst 0") << QStringList{"--burst", "0"} << 64;
    QTest::newRow("burst too long") << QStringList{"--burst", "1001"} << 64;
}

void TSimMonitorTest::ProgramUsage() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);

    QProcess sim;
    sim.start(QStringLiteral(TERVOLT_BIN_DIR "/tervolt-sim"), arguments);
    QVERIFY(sim.waitForFinished(30000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), exitCode);
    const QByteArray usage = sim.readAllStandardError();
    QVERIFY2(usage.contains(exitCode == 1 ? "tervolt-sim: cannot write " : "Usage: tervolt-sim"),
             usage.constData());
    QCOMPARE(sim.readAllStandardOutput(), QByteArray()); // a failed start prints no terminal path
}

void TSimMonitorTest::ProgramRunsLinksAndDumps() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("board"));
    const QString dump = dir.filePath(QStringLiteral("board.hex"));
    const QString stats = dir.filePath(QStringLiteral("stats.json"));
    QProcess sim;
    sim.start(QStringLiteral(TERVOLT_BIN_DIR "/tervolt-sim"),
              {"--link", link, "--dump", dump, "--stats", stats, "--size", "0x20000", "--device-id", "QX9"});
    QVERIFY(sim.waitForStarted(30000));
    const QDeadlineTimer deadline(kDeadline);
    while (!sim.canReadLine() && !deadline.hasExpired())
        sim.waitForReadyRead(1000);
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY(path.startsWith(QLatin1String("/dev/")));
    QCOMPARE(QFileInfo(link).symLinkTarget(), path);

    {
        TBoardLine line(link);
        QVERIFY(line.IsOpen());
        QVERIFY(line.Write("P ID\r"));
        QCOMPARE(line.ReadAnswer(), Answer("P ID", "DeviceID: QX9 Manufacturer: VELUM"));
        // Crosses a 64 KiB boundary, so the dump needs a second segment.
        for (const QByteArray command :
             {"P PROG 000100 0102\r", "P PROG 00FFFF AABBCC\r", "P PROG 000101 00\r"}) {
            QVERIFY(line.Write(command));
            QVERIFY(line.ReadAnswer().endsWith("\r\n>"));
        }
    }
    QCOMPARE(::kill(pid_t(sim.processId()), SIGTERM), 0);
    QVERIFY(sim.waitForFinished(30000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());

    QFile hex(dump);
    QVERIFY(hex.open(QIODevice::ReadOnly));
    QMap<quint32, quint8> bytes;
    const QByteArray hexText = hex.readAll();
    QVERIFY(ParseHex(hexText, bytes));
    QVERIFY(hexText.endsWith(":00000001FF\n"));
    const QMap<quint32, quint8> expected{
        {0x100, 0x01}, {0x101, 0x00}, {0xFFFF, 0xAA}, {0x10000, 0xBB}, {0x10001, 0xCC}};
    QCOMPARE(bytes, expected);

    QFile json(stats);
    QVERIFY(json.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(json.readAll()).object().value("count").toInt(), 4);
}

void TSimMonitorTest::ProgramEndsAfterHangup() {
    QProcess sim;
    sim.start(QStringLiteral(TERVOLT_BIN_DIR "/tervolt-sim"),
              {"--fault", "hangup-after:1", "--fault", "noise"});
    QVERIFY(sim.waitForStarted(30000));
    const QDeadlineTimer deadline(kDeadline);
    while (!sim.canReadLine() && !deadline.hasExpired())
        sim.waitForReadyRead(1000);
    TBoardLine line(QString::fromLocal8Bit(sim.readLine()).trimmed());
    QVERIFY(line.IsOpen());
    QVERIFY(line.Write("P RESET\r"));
    // The banner is closed by its own prompt; then comes the answer with stray bytes in front.
    QVERIFY(line.ReadAnswer().endsWith("\r\n>"));
    QVERIFY(line.ReadAnswer().endsWith(Answer("P RESET", "FLASH reset done")));
    QVERIFY(line.WaitForHangup());
    QVERIFY(sim.waitForFinished(30000));
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TSimMonitorTest)
#include "tst_simmonitor.moc"

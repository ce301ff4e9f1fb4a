// Several boards at once: an exception out of one board's work ends that board alone, as a
// communication failure that names it, with its port closed and its settings given back, while the
// other board finishes.

#include "cli/boardrun.h"
#include "cli/boardthreads.h"
#include "cli/resultreport.h"
#include "cli/terminalhost.h"
#include "tests/support/simboard.h"

#include <QTest>

#include <fcntl.h>
#include <functional>
#include <memory>
#include <stdexcept>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Throws at its `at` step: "connecting" (before the port is opened) or "line" (the ping's outcome,
// with the port open).
class TThrowingOutput : public TBoardOutput {
public:
    TThrowingOutput(QString at, std::function<void()> raise) : FAt(std::move(at)), FRaise(std::move(raise)) {}
    void Line(const QString&) override {
        if (FAt == QLatin1String("line"))
            FRaise();
    }
    void Error(const QString&) override {}
    void State(const QString& state) override {
        if (state == FAt)
            FRaise();
    }
    TProgressDisplay& BeginTransfer(const QString&) override { return FProgress; }

private:
    QString FAt;
    std::function<void()> FRaise;
    TStderrProgress FProgress{false};
};

// The rate the slave side has before the board runs: the run sets its own, and must give it back.
constexpr speed_t kRateBefore = B9600;

bool SetRate(const QString& path, speed_t rate) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    const bool done = fd >= 0 && ::tcgetattr(fd, &settings) == 0 && ::cfsetspeed(&settings, rate) == 0 &&
                      ::tcsetattr(fd, TCSANOW, &settings) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

// Nobody holds the port's lock any more, and it runs at the rate it had.
bool GivenBack(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::tcgetattr(fd, &settings) == 0 &&
                      ::cfgetospeed(&settings) == kRateBefore;
    if (fd >= 0)
        ::close(fd);
    return free;
}

} // namespace

class TestBoardThreads : public QObject {
    Q_OBJECT
private slots:
    void throwingBoardEndsAlone_data();
    void throwingBoardEndsAlone();
};

void TestBoardThreads::throwingBoardEndsAlone_data() {
    QTest::addColumn<QString>("at");
    QTest::addColumn<bool>("standard"); // a std::exception, else an object of another kind
    QTest::addColumn<QString>("outcome");
    QTest::newRow("std::exception, port open") << "line" << true << "Internal error: board on fire";
    QTest::newRow("other object, port open") << "line" << false << "Internal error: unknown exception";
    QTest::newRow("std::exception before the open")
        << "connecting" << true << "Internal error: board on fire";
}

void TestBoardThreads::throwingBoardEndsAlone() {
    QFETCH(QString, at);
    QFETCH(bool, standard);
    QFETCH(QString, outcome);
    std::vector<std::unique_ptr<TSimServer>> servers;
    TCliOptions options;
    options.Command = TCliCommand::ccPing;
    options.Retries = 0;
    std::vector<TBoardJob> jobs(2);
    for (TBoardJob& job : jobs) {
        servers.push_back(std::make_unique<TSimServer>(TSimConfig()));
        QVERIFY(Started(*servers.back()));
        job.Options = &options;
        job.Port = QString::fromStdString(servers.back()->SlavePath());
        job.Link.PortName = job.Link.Device = job.Port;
        QVERIFY(SetRate(job.Port, kRateBefore));
    }

    TThrowingOutput throwing(at, [standard] {
        if (standard)
            throw std::runtime_error("board on fire");
        throw 42;
    });
    TThrowingOutput quiet(QString(), [] {});
    std::vector<TBoardResult> results(jobs.size());
    RunOnThreads(
        int(jobs.size()),
        [&](int i) {
            results[size_t(i)] =
                RunBoard(jobs[size_t(i)], i == 0 ? static_cast<TBoardOutput&>(throwing) : quiet);
        },
        [&](int i, const QString& what) { results[size_t(i)] = InternalErrorResult(jobs[size_t(i)], what); },
        [] {}, 50);

    QCOMPARE(results[0].ExitStatus, int(esCommunicationFailure));
    QCOMPARE(results[0].Lines, QStringList{outcome});
    QCOMPARE(results[0].Port, jobs[0].Port);
    QCOMPARE(results[1].ExitStatus, int(esSuccess));
    QCOMPARE(results[1].Lines, QStringList{QStringLiteral("Target found")});
    QCOMPARE(RunExitStatus(results), int(esCommunicationFailure));
    for (const TBoardJob& job : jobs)
        QVERIFY2(GivenBack(job.Port), qPrintable(job.Port));
}

QTEST_GUILESS_MAIN(TestBoardThreads)
#include "tst_boardthreads.moc"

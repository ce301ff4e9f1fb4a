// Seeded histories of whole runs over the simulated line (detsim/): the outcome of each must tell the
// truth about the model board. TERVOLT_DETSIM_HISTORIES sets how many (100,000 by default).

#include "detsim/history.h"

#include <QTest>

#include <cstdio>

class TDetSimTest : public QObject {
    Q_OBJECT

private slots:
    void historiesTellTheTruth();
    void sameSeedSameTrace();
    void foundBefore_data();
    void foundBefore();
};

void TDetSimTest::historiesTellTheTruth() {
    const qint64 wanted = qEnvironmentVariableIntValue("TERVOLT_DETSIM_HISTORIES");
    const std::uint64_t histories = wanted > 0 ? std::uint64_t(wanted) : 100000;
    std::uint64_t violated = 0;
    for (std::uint64_t seed = 1; seed <= histories; ++seed) {
        if (!RunSeededHistory(seed, false).Violated)
            continue;
        // Run again for its trace: the same seed replays the same history.
        const THistoryResult replay = RunSeededHistory(seed, true);
        if (++violated <= 3)
            std::fprintf(stderr, "seed %llu: %s\n%s\n", static_cast<unsigned long long>(seed),
                         replay.Violation.c_str(), replay.Trace.c_str());
        else
            std::fprintf(stderr, "seed %llu: %s\n", static_cast<unsigned long long>(seed),
                         replay.Violation.c_str());
    }
    QCOMPARE(violated, std::uint64_t(0));
}

void TDetSimTest::sameSeedSameTrace() {
    for (const std::uint64_t seed : {3ull, 77ull, 4242ull, 900001ull}) {
        const THistoryResult first = RunSeededHistory(seed, true);
        QVERIFY(!first.Trace.empty());
        QCOMPARE(RunSeededHistory(seed, true).Trace, first.Trace);
    }
}

// Histories that once ended in a false success, kept so that they never come back.
void TDetSimTest::foundBefore_data() {
    QTest::addColumn<qulonglong>("seed");
    // Echoing board: a bit of a block's data changed on the way, the board wrote what it got and
    // echoed it; the block was sent again and the run ended "Program OK!" over a wrong byte.
    QTest::newRow("changed block written, then sent again") << 20859ull;
    // Echoing board: "Compare OK" with the echo, then the mismatch on a line of its own; the run
    // ended "Compare OK!".
    QTest::newRow("match claimed, mismatch alone after it") << 1818ull;
    // Board without echo: a repeated answer taken by the erase, late answers while twelve catch-up
    // pings were owed, each block taking the one before's "Done", the closing ping an old ping's
    // answer: "Program OK!" over a block never written.
    QTest::newRow("no echo, late and repeated answers") << 43913ull;
    // Board without echo: a restart, a block lost on the way and an answer lost on the way back; the
    // answers shifted and balanced out under "Program OK!".
    QTest::newRow("no echo, a restart and lost lines") << 12607ull;
    // A Stop after a repeated answer on a board without echo: the FLASH state claimed a block whose
    // answer had been another's.
    QTest::newRow("no echo, stopped after a repeated answer") << 21550ull;
}

void TDetSimTest::foundBefore() {
    QFETCH(qulonglong, seed);
    const THistoryResult result = RunSeededHistory(seed, true);
    if (result.Violated)
        std::fprintf(stderr, "%s\n", result.Trace.c_str());
    QVERIFY2(!result.Violated, result.Violation.c_str());
}

QTEST_GUILESS_MAIN(TDetSimTest)
#include "tst_detsim.moc"

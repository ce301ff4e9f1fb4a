// Runs seeded histories of the deterministic simulation and says how many a second one core runs, or
// prints the trace of one history.
//
//   tervolt-detsimbench [--histories N] [--from SEED]   N histories from SEED on (100000 from 1)
//   tervolt-detsimbench --trace SEED                     the trace of one history

#include "detsim/history.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::uint64_t histories = 100000;
    std::uint64_t from = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::uint64_t value = std::stoull(argv[i + 1]);
        if (std::strcmp(argv[i], "--trace") == 0) {
            const THistoryResult result = RunSeededHistory(value, true);
            std::fputs(result.Trace.c_str(), stdout);
            return result.Violated ? 1 : 0;
        }
        if (std::strcmp(argv[i], "--histories") == 0)
            histories = value;
        else if (std::strcmp(argv[i], "--from") == 0)
            from = value;
    }
    QElapsedTimer clock;
    clock.start();
    std::uint64_t violated = 0;
    std::int64_t simulatedUs = 0;
    for (std::uint64_t seed = from; seed < from + histories; ++seed) {
        const THistoryResult result = RunSeededHistory(seed, false);
        simulatedUs += result.SimUs;
        if (result.Violated) {
            ++violated;
            std::printf("seed %llu: %s\n", static_cast<unsigned long long>(seed), result.Violation.c_str());
        }
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    std::printf("%llu histories in %.2f s: %.0f histories a second, %.1f s of line time simulated each "
                "second; %llu violated the property\n",
                static_cast<unsigned long long>(histories), seconds, double(histories) / seconds,
                double(simulatedUs) / 1e6 / seconds, static_cast<unsigned long long>(violated));
    return violated == 0 ? 0 : 1;
}

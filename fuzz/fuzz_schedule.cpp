// Schedules of one simulated run: the fuzzer's bytes are the history's choices (the board, the image,
// what the line does to every command and answer), the run is the real protocol and engine on the
// model board (detsim/). A run whose outcome is false about the board aborts with its trace.

#include "detsim/decisions.h"
#include "detsim/history.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The driver's timers need an application object; nothing ever runs its event loop.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TByteDecisions decisions(data, size);
    if (!RunHistory(decisions, false).Violated)
        return 0;
    TByteDecisions again(data, size);
    const THistoryResult replay = RunHistory(again, true);
    std::fprintf(stderr, "%s\n%s\n", replay.Trace.c_str(), replay.Violation.c_str());
    std::abort();
}

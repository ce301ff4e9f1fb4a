#pragma once
// One simulated history: the real protocol and engine program or verify an image on the model board
// over a simulated line, with every choice (the board, the image, the line's faults) taken from one
// decision source; then the outcome is checked against what the board holds.
//
// The property: a run that reports success left the board holding the image (Program) or found it
// there (Verify); a Program that fails says truthfully what the FLASH holds; a mismatch is reported
// only for a board that has one, unless an answer was changed or forged on the way; no history hangs
// (simulated time is bounded) or spins (waits are bounded).

#include "detsim/decisions.h"

#include <cstdint>
#include <string>

struct THistoryResult {
    bool Violated = false;
    std::string Violation; // what is false about the outcome, on one line
    std::string Outcome;   // the outcome's text and its FLASH state
    std::string Trace;     // every byte on the line and every fault, when asked for
    std::int64_t SimUs = 0;
    std::uint64_t Waits = 0;
};

THistoryResult RunHistory(TDecisions& decisions, bool keepTrace);
THistoryResult RunSeededHistory(std::uint64_t seed, bool keepTrace);

#pragma once
// The end of a run of several boards: the exit status, the summary table, the JSON object.

#include "cli/boardrun.h"

#include <QString>

#include <cstdio>
#include <vector>

// 0 only when every board succeeded; otherwise the most serious status of any board, in this order:
// 64 usage, 5 interrupted, 2 image file, 6 device list, 3 communication, 4 not identified,
// 1 compare mismatch.
int RunExitStatus(const std::vector<TBoardResult>& boards);

// The short kind of a board's outcome: "ok", "compare_error", "image_error", "communication",
// "not_identified", "interrupted", "device_list_error" (and "usage").
QString OutcomeKind(int exitStatus);

// Port, chip, outcome and time of every board, then one line that sums them up.
void PrintSummary(const std::vector<TBoardResult>& boards, std::FILE* out);

// The run as one JSON object on standard output; `message` says why a run ended before any board.
void PrintJsonReport(int exitStatus, const std::vector<TBoardResult>& boards, const QString& message);

#pragma once
// --port auto: every serial port of `tervolt-cli ports` is pinged at the same time, each from a
// thread of its own, and the ports whose monitor answers are named. A port another program holds is
// skipped without being opened.

#include "cli/clioptions.h"

#include <QString>

#include <vector>

struct TProbedPort {
    QString Name; // as `ports` lists it: a device path, or COMn for a mapped name
    bool Answered = false;
    QString Result; // "answered", "no answer", "in use by pid 12 (minicom)", the open error
};

std::vector<TProbedPort> ProbePorts(const TCliOptions& options);

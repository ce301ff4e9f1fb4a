#pragma once
// Raises the priority for the duration of a transfer and always restores it. An unprivileged user may
// only lower the priority; a refused raise is ignored and the run goes on as it is. Where the priority
// is each thread's own (Linux), each board's thread raises and restores its own; where it is the whole
// process's (Windows), the boosts of all boards count as one: the first raises, the last restores.

class TProcessPriorityBoost {
public:
    TProcessPriorityBoost();
    ~TProcessPriorityBoost();
    TProcessPriorityBoost(const TProcessPriorityBoost&) = delete;
    TProcessPriorityBoost& operator=(const TProcessPriorityBoost&) = delete;

    bool Raised() const { return FRaised; }

private:
    bool FPerThread;
    int FSavedPriority = 0;
    bool FSaved = false;
    bool FRaised = false;
};

#pragma once
// Raises the process priority for the duration of a transfer and always restores it. An unprivileged
// user may only lower the priority; a refused raise is ignored and the run goes on as it is.

class TProcessPriorityBoost {
public:
    TProcessPriorityBoost();
    ~TProcessPriorityBoost();
    TProcessPriorityBoost(const TProcessPriorityBoost&) = delete;
    TProcessPriorityBoost& operator=(const TProcessPriorityBoost&) = delete;

    bool Raised() const { return FRaised; }

private:
    int FSavedPriority = 0;
    bool FSaved = false;
    bool FRaised = false;
};

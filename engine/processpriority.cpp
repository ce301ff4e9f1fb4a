#include "engine/processpriority.h"

#include "engine/platformpriority.h"

#include <mutex>

namespace {

// Where the priority is the whole process's (Windows), boards on several threads share one raise:
// the first raises, the last restores what the process had.
std::mutex gProcessBoostMutex;
int gProcessBoosts = 0;
int gProcessSavedPriority = 0;
bool gProcessRaised = false;

} // namespace

TProcessPriorityBoost::TProcessPriorityBoost() : FPerThread(PlatformPriorityPerThread()) {
    if (FPerThread) {
        FSaved = PlatformGetPriority(FSavedPriority);
        if (FSaved)
            FRaised = PlatformSetPriority(PlatformRaisedPriority(FSavedPriority));
        return;
    }
    const std::lock_guard lock(gProcessBoostMutex);
    if (gProcessBoosts++ == 0 && PlatformGetPriority(gProcessSavedPriority))
        gProcessRaised = PlatformSetPriority(PlatformRaisedPriority(gProcessSavedPriority));
    FRaised = gProcessRaised;
}

TProcessPriorityBoost::~TProcessPriorityBoost() {
    if (FPerThread) {
        if (FRaised)
            PlatformSetPriority(FSavedPriority);
        return;
    }
    const std::lock_guard lock(gProcessBoostMutex);
    if (--gProcessBoosts == 0 && gProcessRaised) {
        PlatformSetPriority(gProcessSavedPriority);
        gProcessRaised = false;
    }
}

#include "app/processpriority.h"

#include "app/platformpriority.h"

TProcessPriorityBoost::TProcessPriorityBoost() {
    FSaved = PlatformGetPriority(FSavedPriority);
    if (FSaved)
        FRaised = PlatformSetPriority(PlatformRaisedPriority(FSavedPriority));
}

TProcessPriorityBoost::~TProcessPriorityBoost() {
    if (FRaised)
        PlatformSetPriority(FSavedPriority);
}

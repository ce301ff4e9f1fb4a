#include "app/processpriority.h"

#include "app/platformpriority.h"

TProcessPriorityBoost::TProcessPriorityBoost() {
    FSaved = PlatformGetPriority(FSavedNice);
    if (FSaved)
        FRaised = PlatformSetPriority(FSavedNice + kPriorityRaise);
}

TProcessPriorityBoost::~TProcessPriorityBoost() {
    if (FRaised)
        PlatformSetPriority(FSavedNice);
}

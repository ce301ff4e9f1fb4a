#include "engine/platformpriority.h"

#include <windows.h>

bool PlatformGetPriority(int& value) {
    const DWORD priorityClass = GetPriorityClass(GetCurrentProcess());
    if (priorityClass == 0)
        return false;
    value = int(priorityClass);
    return true;
}

bool PlatformSetPriority(int value) {
    return SetPriorityClass(GetCurrentProcess(), DWORD(value)) != 0;
}

int PlatformRaisedPriority(int value) {
    // A process already above high (real-time) keeps its class.
    return value == int(REALTIME_PRIORITY_CLASS) ? value : int(HIGH_PRIORITY_CLASS);
}

bool PlatformPriorityPerThread() {
    return false;
}

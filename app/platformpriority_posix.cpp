#include "app/platformpriority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>

bool PlatformGetPriority(int& nice) {
    errno = 0;
    const int value = getpriority(PRIO_PROCESS, 0);
    if (value == -1 && errno != 0)
        return false;
    nice = value;
    return true;
}

bool PlatformSetPriority(int nice) {
    return setpriority(PRIO_PROCESS, 0, std::clamp(nice, -20, 19)) == 0;
}

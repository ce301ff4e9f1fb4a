#include "engine/platformpriority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// How far a transfer raises the priority: roughly a "high" class above normal work.
constexpr int kPriorityRaise = -10;

} // namespace

// The thread's own id, so that the call says what Linux does anyway: nice is per thread.
bool PlatformGetPriority(int& value) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, id_t(gettid()));
    if (nice == -1 && errno != 0)
        return false;
    value = nice;
    return true;
}

bool PlatformSetPriority(int value) {
    return setpriority(PRIO_PROCESS, id_t(gettid()), std::clamp(value, -20, 19)) == 0;
}

int PlatformRaisedPriority(int value) {
    return value + kPriorityRaise;
}

bool PlatformPriorityPerThread() {
    return true;
}

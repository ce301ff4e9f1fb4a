#include "common/version.h"

const char* TervoltVersion() {
    return kTervoltVersion;
}

#include "app/version.h"

const char* TervoltVersion() { return kTervoltVersion; }

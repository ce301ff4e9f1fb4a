#pragma once

#include "cli/clioptions.h"

// Each command prints its outcome as the last line on standard output and returns the exit status.
int RunCliCommand(const TCliOptions& options);

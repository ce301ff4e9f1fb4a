#include "cli/platformterminal.h"

#include <unistd.h>

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool StandardErrorTakesEscapes() {
    return StandardErrorIsTerminal();
}

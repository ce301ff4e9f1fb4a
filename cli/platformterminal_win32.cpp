#include "cli/platformterminal.h"

#include <windows.h>

// A console only: the C runtime's isatty() also says yes for NUL and other character devices.
bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

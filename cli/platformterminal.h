#pragma once
// Whether standard error is a terminal a person watches: live progress lines, or plain lines for a log.

bool StandardErrorIsTerminal();

// A terminal that also moves the cursor by escape sequences (several boards' lines redrawn in place);
// a Windows console is switched to them where it can be. False: plain lines.
bool StandardErrorTakesEscapes();

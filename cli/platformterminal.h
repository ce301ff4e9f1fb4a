#pragma once
// Whether standard error is a terminal a person watches: live progress lines, or plain lines for a log.

bool StandardErrorIsTerminal();

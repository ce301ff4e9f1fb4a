#pragma once

// Prints the serial devices present and the COMn names that map to them; returns the exit status.
int PrintPortList();

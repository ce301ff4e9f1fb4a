#pragma once
// The process priority as the platform offers it: a nice value on Linux (lower is more urgent), a
// priority class on Windows.

bool PlatformGetPriority(int& value);
bool PlatformSetPriority(int value);
// The priority a transfer runs at, given the one the process has.
int PlatformRaisedPriority(int value);

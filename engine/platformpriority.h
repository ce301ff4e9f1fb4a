#pragma once
// The process priority as the platform offers it: a nice value on Linux (lower is more urgent), a
// priority class on Windows.
//
// On Linux a nice value belongs to each thread, and these calls act on the calling thread; on Windows
// the class belongs to the whole process. Several boards run on threads of their own, so
// TProcessPriorityBoost asks which it is (see there).

bool PlatformGetPriority(int& value);
bool PlatformSetPriority(int value);
// The priority a transfer runs at, given the one the process has.
int PlatformRaisedPriority(int value);
// True when the priority is the calling thread's own, false when it is the whole process's.
bool PlatformPriorityPerThread();

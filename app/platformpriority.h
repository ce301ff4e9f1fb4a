#pragma once
// The process priority as the platform offers it; Linux uses nice values (lower is more urgent).

// How far a transfer raises the priority: roughly a "high" class above normal work.
inline constexpr int kPriorityRaise = -10;

bool PlatformGetPriority(int& nice);
bool PlatformSetPriority(int nice);

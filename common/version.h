#pragma once

// The version shown in the window title, the power-on picture and `tervolt-cli --version`.
inline constexpr char kTervoltVersion[] = "1.26";
const char* TervoltVersion();

#pragma once
// Modal results of dialogs and dialog buttons. The values are the ones every caller compares with,
// so they are fixed here once instead of relying on QDialog's Accepted/Rejected.

#include <cstdint>

using TModalResult = std::int32_t;

constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;

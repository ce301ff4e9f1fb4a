#pragma once
// What every platform layer checks around applying a line state: that the request can be carried
// out at all, and that the device really runs at the rate asked for afterwards (a driver may round
// the rate, or keep another and still report success).

#include "serial/commport.h"

#include <QString>

#include <cstdint>

// Empty when the request can be applied to the port at `path`, else why not.
QString LineStateRequestError(bool open, const TCommLineState& state, const QString& path);

// Empty when `actual` is within a UART divisor's error of `requested`, else the failure text.
QString RateReadBackError(std::uint32_t requested, std::uint32_t actual, const QString& path);

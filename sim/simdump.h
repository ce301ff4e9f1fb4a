#pragma once
// Writes what the simulated board programmed as an Intel HEX file, for comparing a run with its image.
//
// Only programmed bytes are written, as runs of consecutive addresses in records of at most
// kDumpRecordBytes: with segment records (02) below 1 MiB, with linear address records (04) above it.
// The file ends with the end-of-file record.

#include "sim/simserver.h"

#include <cstdint>
#include <string>

constexpr std::uint16_t kDumpRecordBytes = 32;

bool WriteProgrammedHex(const std::string& fileName, const TFlashSnapshot& board, std::string& error);

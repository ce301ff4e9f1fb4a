#pragma once
// Writes what the simulated board programmed as an Intel HEX file, for comparing a run with its image.
//
// Only programmed bytes are written, as runs of consecutive addresses in records of at most
// kDumpRecordBytes. The format's segment records reach kDumpLimit (1 MiB); programmed bytes at or
// above it are counted in `skipped` and left out. The file ends with the end-of-file record.

#include "sim/simserver.h"

#include <cstdint>
#include <string>

constexpr std::uint32_t kDumpLimit = 0x100000;
constexpr std::uint16_t kDumpRecordBytes = 32;

bool WriteProgrammedHex(const std::string& fileName, const TFlashSnapshot& board, std::uint64_t& skipped,
                        std::string& error);

#pragma once
// The images the simulated histories send: Intel HEX files of one to four segments with gaps between
// them, made once from a fixed seed, each with its snapshot so that no history reads a file.

#include "image/imagesnapshot.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// The model board's FLASH: every image fits below it.
inline constexpr std::uint32_t kSimFlashBytes = 8192;

struct TPoolImage {
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> Segments; // address, bytes
    std::shared_ptr<TImageSnapshot> Snapshot;
};

const std::vector<TPoolImage>& SimImagePool();

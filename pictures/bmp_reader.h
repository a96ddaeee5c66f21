// A small BMP reader for the program's own embedded pictures.
#pragma once

#include "pictures/picture.h"

#include <cstdint>
#include <optional>
#include <span>

namespace quillmark {

// Decodes a complete BMP file image with a 40-byte info header: 4 bits per pixel with a palette,
// uncompressed or RLE4. The result is a 24-bit picture. No picture for anything else, for truncated or
// inconsistent data, or for run data that leaves a pixel undefined or runs past the picture.
std::optional<Picture> readBmp(std::span<const std::uint8_t> file);

} // namespace quillmark

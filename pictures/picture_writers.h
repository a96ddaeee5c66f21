// Writing pictures as BMP, JPEG or PNG files.
#pragma once

#include "pictures/picture.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace quillmark {

// A format's name in ASCII packed into 32 bits, first letter in the lowest byte.
enum FormatCode : std::uint32_t {
    FormatBmp = 0x00504D42,  // "BMP"
    FormatJpeg = 0x4745504A, // "JPEG"
    FormatPng = 0x00474E50,  // "PNG"
};

inline constexpr int kDefaultQualityLevel = 7;
inline constexpr int kPictureDepth = -1; // the picture's own depth

// Writes the picture to the named file in the given format. The quality level (clamped to 0..10) matters to
// JPEG only, as libjpeg quality 10 x level; depth -1 means the picture's own. Supported: BMP at depth 32,
// PNG and JPEG from a 32-bit picture. The file appears whole or not at all: it is written beside the target
// under a temporary name and renamed over it when complete, so a failure leaves no partial file and an
// earlier file of that name as it was. A symbolic link is written through and kept; a folder, device or other
// file that is not a regular file is never replaced. False for an empty name, an unknown format code or an
// unsupported depth (no file touched), or any failure to write.
bool savePicture(const Picture& picture, const std::filesystem::path& fileName, std::uint32_t formatCode,
                 int qualityLevel = kDefaultQualityLevel, int depth = kPictureDepth);

// The same bytes as savePicture, written to an open stream (standard output, say). The stream may hold a
// partial picture after a failure.
bool writePicture(const Picture& picture, std::FILE* stream, std::uint32_t formatCode,
                  int qualityLevel = kDefaultQualityLevel, int depth = kPictureDepth);

} // namespace quillmark

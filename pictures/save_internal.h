// Saving through chosen file calls, so that tests can make each of them fail. Internal to pictures/ and its
// tests: the program saves through savePicture (pictures/picture_writers.h), which uses the system's calls.
#pragma once

#include "pictures/atomic_file.h"
#include "pictures/picture.h"

#include <cstdint>
#include <filesystem>

namespace quillmark {

// savePicture, with the file's contents reaching the disk through the given calls.
bool savePictureWith(const Picture& picture, const std::filesystem::path& fileName, std::uint32_t formatCode,
                     int qualityLevel, int depth, const FileCalls& calls);

} // namespace quillmark

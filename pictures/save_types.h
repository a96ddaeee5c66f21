// The three file types a picture is saved as, and how a save name gets its extension.
#pragma once

#include "pictures/picture.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillmark {

struct SaveType {
    std::string_view description;             // as the save dialog lists it
    std::string_view patterns;                // semicolon-separated, as in "*.jpg;*.jpeg;*.jpe"
    std::array<std::string_view, 3> accepted; // upper-case extensions kept as typed; unused entries empty
    std::string_view appended;                // added to a name without an accepted extension
    std::uint32_t formatCode;
    int qualityLevel;
    int depth;
};

// By save-dialog position: 0 BMP, 1 JPEG, 2 PNG.
inline constexpr int kBmpPosition = 0;
inline constexpr int kJpegPosition = 1;
inline constexpr int kPngPosition = 2;
extern const std::array<SaveType, 3> kSaveTypes;

// The text after a name's last dot, up to a double quote; empty when the last dot is followed by a slash,
// backslash or blank, sits right after a slash or backslash, or is the name's first character.
std::string extensionPart(std::string_view name);

// The name as saved at a position: kept as typed when its extension, upper-cased, is one the type accepts,
// otherwise with the type's extension appended. A position outside 0..2 leaves the name as it is.
std::string saveName(std::string_view name, int position);

// Writes the picture through savePicture with the arguments of the type at the position, to exactly the
// given name. False for a position outside 0..2 or a failed save.
bool savePictureAs(const Picture& picture, const std::filesystem::path& fileName, int position);

} // namespace quillmark

#include "pictures/save_types.h"

#include "pictures/picture_writers.h"

#include <algorithm>

namespace quillmark {

const std::array<SaveType, 3> kSaveTypes = {{
    {"BMP (*.bmp)", "*.bmp", {"BMP", "", ""}, ".bmp", FormatBmp, 0, 32},
    {"JPEG(*.jpg;*.jpeg;*.jpe)",
     "*.jpg;*.jpeg;*.jpe",
     {"JPG", "JPEG", "JPE"},
     ".jpg",
     FormatJpeg,
     10,
     kPictureDepth},
    {"PNG (*.png)", "*.png", {"PNG", "", ""}, ".png", FormatPng, kDefaultQualityLevel, kPictureDepth},
}};

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

bool validPosition(int position) {
    return position >= 0 && position < static_cast<int>(kSaveTypes.size());
}

// Only ASCII letters change. Letters outside ASCII can never turn an extension into BMP, JPG, JPEG, JPE or
// PNG, whatever the character set makes of them, so the comparison comes out as the system's upper-casing
// would make it; and the name itself is never changed.
std::string upperCased(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace

std::string extensionPart(std::string_view name) {
    // From the last character back to the second: a dot in first place starts a hidden name, not an
    // extension.
    std::size_t dot = 0;
    for (std::size_t i = name.size(); i-- > 1;) {
        const char c = name[i];
        if (isSeparator(c) || c == ' ') return {};
        if (c == '.') {
            dot = i;
            break;
        }
    }
    if (dot == 0 || isSeparator(name[dot - 1])) return {};
    const std::string_view rest = name.substr(dot + 1);
    return std::string(rest.substr(0, rest.find('"')));
}

std::string saveName(std::string_view name, int position) {
    std::string result(name);
    if (!validPosition(position)) return result;
    const SaveType& type = kSaveTypes[static_cast<std::size_t>(position)];
    const std::string extension = upperCased(extensionPart(name));
    const bool accepted = !extension.empty() && std::find(type.accepted.begin(), type.accepted.end(),
                                                          extension) != type.accepted.end();
    if (!accepted) result += type.appended;
    return result;
}

bool savePictureAs(const Picture& picture, const std::filesystem::path& fileName, int position) {
    if (!validPosition(position)) return false;
    const SaveType& type = kSaveTypes[static_cast<std::size_t>(position)];
    return savePicture(picture, fileName, type.formatCode, type.qualityLevel, type.depth);
}

} // namespace quillmark

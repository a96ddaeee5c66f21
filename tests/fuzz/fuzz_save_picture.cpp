// Pictures of any size, depth and alpha, saved as each type into a temporary folder. A save either leaves
// a complete file or none, and never a temporary file beside it.
#include "pictures/picture_writers.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace {

const std::filesystem::path& folder() {
    static const std::filesystem::path path = [] {
        auto p = std::filesystem::temp_directory_path() / ("quillmark-fuzz-save-" + std::to_string(getpid()));
        std::filesystem::create_directories(p);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder(), ignored);
        });
        return p;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillmark;
    if (size < 6) return 0;
    const int width = 1 + data[0] % 64;
    const int height = 1 + data[1] % 64;
    const int pictureDepth = data[2] & 1 ? 32 : 24;
    const std::uint32_t formats[] = {FormatBmp, FormatJpeg, FormatPng, 0x46464947 /* GIFF: no writer */};
    const std::uint32_t format = formats[data[3] % 4];
    const int quality = static_cast<int>(static_cast<std::int8_t>(data[4]));
    const int depths[] = {-1, 32, 24, 8, 0};
    const int depth = depths[data[5] % 5];
    data += 6;
    size -= 6;

    auto picture = Picture::create(width, height, pictureDepth);
    if (!picture) std::abort();
    std::size_t at = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x, at += 4) {
            Colour colour = 0;
            for (std::size_t i = 0; i < 4; ++i)
                colour |= Colour{at + i < size ? data[at + i] : std::uint8_t{0}} << (8 * i);
            picture->setPixel(x, y, colour);
        }

    const auto target = folder() / "picture";
    const bool saved = savePicture(*picture, target, format, quality, depth);
    std::error_code error;
    if (saved != std::filesystem::exists(target, error)) std::abort();
    if (saved && format == FormatBmp &&
        std::filesystem::file_size(target) != 54 + 4 * static_cast<std::uintmax_t>(width) * height)
        std::abort();
    std::filesystem::remove(target, error);
    if (!std::filesystem::is_empty(folder())) std::abort(); // a temporary file was left behind
    return 0;
}
